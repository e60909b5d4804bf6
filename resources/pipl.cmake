# PiPL bytes, generated from host_api/registration.h by a small program that runs on the build
# machine (built natively also when the plug-in is cross-built). The result's path is published
# as the global property PYRIX_PIPL_BIN for the Windows resource script and the tests.
set(pyrix_pipl_bin ${CMAKE_CURRENT_BINARY_DIR}/pipl.bin)

add_executable(pyrix_pipl_gen ${CMAKE_CURRENT_SOURCE_DIR}/pipl_gen.cpp)
pyrix_folder(pyrix_pipl_gen resources)
target_link_libraries(pyrix_pipl_gen PRIVATE pyrix_host_api)
pyrix_warnings(pyrix_pipl_gen)
if(COMMAND pyrix_build_tool)
  # When cross-compiling, the program that runs is the native build of this same target.
  pyrix_build_tool(pyrix_pipl_gen pyrix_pipl_gen_cmd)
elseif(CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR "cross-compiling needs cmake/native_tools.cmake for the PiPL generator")
else()
  set(pyrix_pipl_gen_cmd pyrix_pipl_gen)
endif()
if(CMAKE_CROSSCOMPILING)
  set_target_properties(pyrix_pipl_gen PROPERTIES EXCLUDE_FROM_ALL ON)
endif()

add_custom_command(
  OUTPUT ${pyrix_pipl_bin}
  COMMAND ${pyrix_pipl_gen_cmd} ${pyrix_pipl_bin}
  DEPENDS ${pyrix_pipl_gen_cmd}
  COMMENT "Generating the PiPL bytes"
  VERBATIM)
add_custom_target(pyrix_pipl ALL DEPENDS ${pyrix_pipl_bin})
set_property(GLOBAL PROPERTY PYRIX_PIPL_BIN ${pyrix_pipl_bin})
