# Programs that run during the build (generators of resource data) and the native builds that
# the cross-built plug-in is compared with. In a native build they are ordinary targets; when
# cross-compiling they come from a native build of this same tree in <build>/native, made by
# the host's compiler before anything that needs them.
#
#   pyrix_build_tool(<target> <out_var>)
#       <out_var> names the program for add_custom_command's COMMAND and DEPENDS: the target
#       itself natively, the path of its native build when cross-compiling.
#   pyrix_native_target(<target>)
#       When cross-compiling, also build <target> natively (e.g. for comparisons in tests).
#
# Native programs and libraries land in PYRIX_NATIVE_BIN.

set(PYRIX_NATIVE_DIR ${CMAKE_BINARY_DIR}/native)
set(PYRIX_NATIVE_BIN ${PYRIX_NATIVE_DIR}/bin)

function(pyrix_build_tool target out_var)
  if(CMAKE_CROSSCOMPILING)
    set_property(GLOBAL APPEND PROPERTY PYRIX_NATIVE_TOOLS ${target})
    set(${out_var} ${PYRIX_NATIVE_BIN}/${target} PARENT_SCOPE)
  else()
    set(${out_var} ${target} PARENT_SCOPE)
  endif()
endfunction()

function(pyrix_native_target target)
  if(CMAKE_CROSSCOMPILING)
    set_property(GLOBAL APPEND PROPERTY PYRIX_NATIVE_TARGETS ${target})
  endif()
endfunction()

# Runs once the whole tree has been read, when every directory has named what it needs.
function(_pyrix_add_native_build)
  get_property(tools GLOBAL PROPERTY PYRIX_NATIVE_TOOLS)
  get_property(targets GLOBAL PROPERTY PYRIX_NATIVE_TARGETS)
  list(APPEND targets ${tools})
  list(REMOVE_DUPLICATES targets)
  if(NOT targets)
    return()
  endif()
  set(byproducts "")
  foreach(tool IN LISTS tools)
    list(APPEND byproducts ${PYRIX_NATIVE_BIN}/${tool})
  endforeach()
  include(ExternalProject)
  ExternalProject_Add(pyrix_native
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${PYRIX_NATIVE_DIR}
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
               -DPYRIX_BUILD_TESTS=OFF
               -DPYRIX_BUILD_BENCH=OFF
               -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${PYRIX_NATIVE_BIN}
               -DCMAKE_LIBRARY_OUTPUT_DIRECTORY=${PYRIX_NATIVE_BIN}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${targets}
    BUILD_ALWAYS ON  # the sub-build's own dependency tracking decides what is out of date
    BUILD_BYPRODUCTS ${byproducts}
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
endfunction()

if(CMAKE_CROSSCOMPILING)
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _pyrix_add_native_build)
endif()
