# tavero_embed_text(TARGET NAME SOURCE...): makes the text of the SOURCE
# files (joined in the order given, with a line "//@tavero-next-file"
# between two files) available to TARGET's code as `inline constexpr char
# NAME[]` in the header "embedded/<NAME>.h". Scripts stay in .js files; the
# build turns them into constants.
function(tavero_embed_text target name)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/embedded")
  set(header "${dir}/embedded/${name}.h")
  set(sources "")
  foreach(source IN LISTS ARGN)
    get_filename_component(source "${source}" ABSOLUTE)
    list(APPEND sources "${source}")
  endforeach()
  string(REPLACE ";" "$<SEMICOLON>" sources_argument "${sources}")
  add_custom_command(
    OUTPUT "${header}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}/embedded"
    COMMAND ${CMAKE_COMMAND} "-DNAME=${name}" "-DSOURCES=${sources_argument}" "-DSEPARATOR=//@tavero-next-file"
            "-DHEADER=${header}"
            -P "${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake"
    DEPENDS ${sources} "${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake"
    COMMENT "Embedding ${name}"
    VERBATIM)
  target_sources(${target} PRIVATE "${header}")
  target_include_directories(${target} PRIVATE "${dir}")
endfunction()
