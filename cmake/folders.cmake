# Which folder may include which. Sources spell includes from the repository root
# ("renderers/renderer.h"), but no target sees the root: each sees, for every folder it may use, a
# directory of the build that holds only a link to that folder. An include against the direction
# of dependencies then fails to compile (see docs/architecture.md, which draws the same table).
#
# The allowed dependencies, one row per folder: the folder, then what its sources may include
# besides their own folder. Nothing else gives a target a folder: a link, PUBLIC or not, brings
# the library's code but none of its folders, so a header that includes a folder its user may
# not use fails in that user. tests/ alone sees the whole tree.
set(PYRIX_FOLDER_TABLE
  # the product, from the entry layer down
  "host:                    host_api render ui renderers"
  "ui:                      host_api resources"
  "renderers:               render kernels"
  "kernels:"
  "resources:               host_api"
  "host_api:"
  "render:"
  # around it
  "dxbc:                    kernels"
  "standins/win32:          kernels dxbc"
  "standins/host_simulator: host_api render"
  "tools/pyrix:             host_api render kernels renderers standins/host_simulator"
  "tools/dxbc:              dxbc"
  "tools/about_rc:          ui host_api"
  "tools/exact_math:        kernels"
  "tools/gpu_cost:          render kernels renderers"
  "bench:                   render kernels renderers")

set(PYRIX_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include_roots)

# Gives <target> the folder <folder> (a path from the repository root, e.g. "renderers",
# "standins/win32") as "<folder>/...", with <scope> PUBLIC, PRIVATE or INTERFACE.
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

# The folders that the table lets <folder> use, itself first, in <out_var>.
function(pyrix_folder_uses folder out_var)
  foreach(row IN LISTS PYRIX_FOLDER_TABLE)
    if(row MATCHES "^([^:]+):(.*)$" AND CMAKE_MATCH_1 STREQUAL folder)
      separate_arguments(uses UNIX_COMMAND "${CMAKE_MATCH_2}")
      set(${out_var} ${folder} ${uses} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "folder ${folder} has no row in PYRIX_FOLDER_TABLE (cmake/folders.cmake)")
endfunction()

# Makes <target> a target of <folder>: its sources see exactly the folders of the table's row.
# A header-only library sees nothing itself; each of its users sees what its own row allows.
function(pyrix_folder target folder)
  pyrix_folder_uses(${folder} folders)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  foreach(used IN LISTS folders)
    pyrix_use_folder(${target} PRIVATE ${used})
  endforeach()
endfunction()
