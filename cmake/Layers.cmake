# Each layer's headers are reached as "<folder>/<Header>.h" through include
# roots under <build>/layers/<target>/, one set per CMake target, so a target
# sees another's headers only when it links that target: an include against
# the direction of the layers fails to build. The roots hold links, never
# copies, so an edited header is seen at once.

# pelmoran_public_headers(<target> <folder> <header>...): the face the target
# shows to whoever links it: the listed headers of <folder> and no others.
# A header that a listed one includes must be listed too.
function(pelmoran_public_headers target folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${target}/public)
  if(IS_SYMLINK ${root}/${folder})
    message(FATAL_ERROR "${root}/${folder} links to a folder; remove it and configure again")
  endif()
  file(MAKE_DIRECTORY ${root}/${folder})
  # A header taken off the list must stop being reachable at the next configure.
  file(GLOB old LIST_DIRECTORIES false ${root}/${folder}/*)
  foreach(link ${old})
    get_filename_component(name ${link} NAME)
    if(NOT name IN_LIST ARGN)
      file(REMOVE ${link})
    endif()
  endforeach()
  foreach(header ${ARGN})
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${folder}/${header})
      message(FATAL_ERROR "${target}: public header ${folder}/${header} does not exist")
    endif()
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder}/${header} ${root}/${folder}/${header}
         SYMBOLIC)
  endforeach()
  pelmoran_layer_scope(${target} PUBLIC scope)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# pelmoran_internal_headers(<target> <folder>): every header of <folder>, new
# ones included, for the target's own sources; its own tests get them by
# linking <target>_internal.
function(pelmoran_internal_headers target folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${target}/internal)
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PRIVATE ${root})
  add_library(${target}_internal INTERFACE)
  target_include_directories(${target}_internal INTERFACE ${root})
  target_link_libraries(${target}_internal INTERFACE ${target})
endfunction()

# pelmoran_layer_headers(<target> <scope> <folder>): the whole folder as the
# target's face, for the top layers, which only the program, its tests and the
# benchmarks link.
function(pelmoran_layer_headers target scope folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${target}/whole)
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# An interface library has no sources of its own, so its face is INTERFACE.
function(pelmoran_layer_scope target wanted out)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(${out} INTERFACE PARENT_SCOPE)
  else()
    set(${out} ${wanted} PARENT_SCOPE)
  endif()
endfunction()
