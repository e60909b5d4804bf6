# Run with cmake -DPYRIX_SOURCE=<repository> -P: the checker refuses a cycle (the one resources/
# and ui/ once had), a longer one, and a folder with no row. (The committed table itself is
# checked by including folders.cmake, which stops on a fault.)
cmake_minimum_required(VERSION 3.25)
set(CMAKE_BINARY_DIR ${CMAKE_CURRENT_BINARY_DIR})
include(${PYRIX_SOURCE}/cmake/folders.cmake)

function(expect_fault table pattern)
  pyrix_folder_table_fault("${table}" fault)
  if(NOT fault MATCHES "${pattern}")
    message(FATAL_ERROR "table '${table}': expected a fault matching '${pattern}', got '${fault}'")
  endif()
endfunction()

set(with_cycle ${PYRIX_FOLDER_TABLE})
list(TRANSFORM with_cycle REPLACE "^resources:.*$" "resources: host_api ui")
expect_fault("${with_cycle}" "cycle.*(ui, resources|resources, ui)")
expect_fault("a: b;b: c;c: a;d: a" "cycle or depend on one: a, b, c, d$")
expect_fault("a: b;b:" "^$")
expect_fault("a: b c;b:" "a uses c, which has no row")

# No target is given a folder past its row: only the table's own function gives folders.
file(GLOB_RECURSE build_files RELATIVE ${PYRIX_SOURCE} ${PYRIX_SOURCE}/*CMakeLists.txt
     ${PYRIX_SOURCE}/*.cmake)
foreach(path IN LISTS build_files)
  if(path MATCHES "^build/" OR path STREQUAL "cmake/folders.cmake")
    continue()
  endif()
  file(STRINGS ${PYRIX_SOURCE}/${path} calls REGEX "^[ \t]*pyrix_use_folder[ \t]*\\(")
  if(calls)
    message(FATAL_ERROR "${path} gives a folder outside the table: ${calls}")
  endif()
endforeach()
