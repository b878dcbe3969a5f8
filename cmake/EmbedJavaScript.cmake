# tavero_embed_text(TARGET NAME SOURCE): makes the text of SOURCE available to
# TARGET's code as `inline constexpr char NAME[]` in the header
# "embedded/<NAME>.h". Scripts stay in .js files; the build turns them into
# constants.
function(tavero_embed_text target name source)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/embedded")
  set(header "${dir}/embedded/${name}.h")
  get_filename_component(source "${source}" ABSOLUTE)
  add_custom_command(
    OUTPUT "${header}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}/embedded"
    COMMAND ${CMAKE_COMMAND} -DNAME=${name} -DSOURCE=${source} -DHEADER=${header}
            -P "${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake"
    DEPENDS "${source}" "${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake"
    COMMENT "Embedding ${source}")
  target_sources(${target} PRIVATE "${header}")
  target_include_directories(${target} PRIVATE "${dir}")
endfunction()
