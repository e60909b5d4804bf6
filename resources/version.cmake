# The Windows version resource, the plain version text and the installer's product facts,
# generated from the registration table by a program of the build machine (built natively also
# when the plug-in is cross-built). Published as the global properties PYRIX_VERSION_RC,
# PYRIX_VERSION_TXT and PYRIX_PRODUCT_TXT for the Windows resource script and the release package.
set(pyrix_version_rc ${CMAKE_CURRENT_BINARY_DIR}/version.rc)
set(pyrix_version_txt ${CMAKE_CURRENT_BINARY_DIR}/version.txt)
set(pyrix_product_txt ${CMAKE_CURRENT_BINARY_DIR}/product.txt)

add_executable(pyrix_version_gen ${CMAKE_CURRENT_SOURCE_DIR}/version_gen.cpp)
target_link_libraries(pyrix_version_gen PRIVATE pyrix_host_api)
pyrix_folder(pyrix_version_gen resources)
pyrix_warnings(pyrix_version_gen)
pyrix_build_tool(pyrix_version_gen pyrix_version_gen_cmd)
if(CMAKE_CROSSCOMPILING)
  set_target_properties(pyrix_version_gen PROPERTIES EXCLUDE_FROM_ALL ON)
endif()

add_custom_command(
  OUTPUT ${pyrix_version_rc} ${pyrix_version_txt} ${pyrix_product_txt}
  COMMAND ${pyrix_version_gen_cmd} ${pyrix_version_rc} ${pyrix_version_txt} ${pyrix_product_txt}
  DEPENDS ${pyrix_version_gen_cmd}
  COMMENT "Generating the version resource"
  VERBATIM)
add_custom_target(pyrix_version ALL DEPENDS ${pyrix_version_rc} ${pyrix_version_txt}
                                              ${pyrix_product_txt})
set_property(GLOBAL PROPERTY PYRIX_VERSION_RC ${pyrix_version_rc})
set_property(GLOBAL PROPERTY PYRIX_VERSION_TXT ${pyrix_version_txt})
set_property(GLOBAL PROPERTY PYRIX_PRODUCT_TXT ${pyrix_product_txt})
