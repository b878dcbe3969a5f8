# Include roots that keep the layers apart. Code reaches a library's headers
# as "<folder>/<Name>.h" only when it links that library: each library gets an
# include root of its own in the build tree that holds just its folder (as a
# symbolic link into src/), instead of all of src/, which would let any code
# include any header. An include that runs against the layers then fails to
# build, naming the header.
#
#   tavero_layer_headers(TARGET FOLDER)             the headers of src/FOLDER and below
#   tavero_layer_headers(TARGET FOLDER FILES_ONLY)  only those directly in src/FOLDER
#                                                   (its subfolders are layers of their own)
function(tavero_layer_headers target folder)
  set(root "${CMAKE_BINARY_DIR}/layers/${target}")
  set(source "${CMAKE_SOURCE_DIR}/src/${folder}")
  if("FILES_ONLY" IN_LIST ARGN)
    file(MAKE_DIRECTORY "${root}/${folder}")
    file(GLOB stale LIST_DIRECTORIES true "${root}/${folder}/*")
    if(stale)
      file(REMOVE ${stale})
    endif()
    file(GLOB headers CONFIGURE_DEPENDS "${source}/*.h")
    foreach(header IN LISTS headers)
      get_filename_component(name "${header}" NAME)
      file(CREATE_LINK "${header}" "${root}/${folder}/${name}" SYMBOLIC)
    endforeach()
  else()
    get_filename_component(parent "${root}/${folder}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(REMOVE "${root}/${folder}")
    file(CREATE_LINK "${source}" "${root}/${folder}" SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC "${root}")
endfunction()
