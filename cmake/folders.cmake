# Which folder may include which. Sources spell includes from the repository root
# ("renderers/renderer.h"), but no target sees the root: each sees, for every folder it may use, a
# directory of the build that holds only a link to that folder. An include against the direction
# of dependencies then fails to compile (see docs/architecture.md).
set(PYRIX_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include_roots)

# Gives <target> the folder <folder> (a path from the repository root, e.g. "renderers", "standins/win32")
# as "<folder>/...", with <scope> PUBLIC, PRIVATE or INTERFACE.
function(pyrix_use_folder target scope folder)
  string(REPLACE "/" "_" key ${folder})
  set(root ${PYRIX_INCLUDE_ROOTS}/${key})
  if(NOT EXISTS ${root}/${folder})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()
