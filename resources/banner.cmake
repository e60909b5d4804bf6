# The banner image: its pixels are generated at build time by banner_gen.cpp (a program of the
# build machine, built natively also when the plug-in is cross-built) and compiled into the
# static library pyrix_banner_image. The target pyrix_banner_png refreshes docs/banner.png.
set(pyrix_banner_source ${CMAKE_CURRENT_BINARY_DIR}/banner_image.cpp)

add_executable(pyrix_banner_gen ${CMAKE_CURRENT_SOURCE_DIR}/banner_gen.cpp)
pyrix_folder(pyrix_banner_gen resources)
pyrix_warnings(pyrix_banner_gen)
pyrix_build_tool(pyrix_banner_gen pyrix_banner_gen_cmd)
if(CMAKE_CROSSCOMPILING)
  set_target_properties(pyrix_banner_gen PROPERTIES EXCLUDE_FROM_ALL ON)
endif()

add_custom_command(
  OUTPUT ${pyrix_banner_source}
  COMMAND ${pyrix_banner_gen_cmd} --source ${pyrix_banner_source}
  DEPENDS ${pyrix_banner_gen_cmd}
  COMMENT "Generating the banner image"
  VERBATIM)

add_library(pyrix_banner_image STATIC ${pyrix_banner_source})
target_sources(pyrix_banner_image PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/banner_image.h)
pyrix_folder(pyrix_banner_image resources)

if(NOT CMAKE_CROSSCOMPILING)
  add_custom_target(pyrix_banner_png
    COMMAND pyrix_banner_gen --png ${CMAKE_SOURCE_DIR}/docs/banner.png
    COMMENT "Writing docs/banner.png"
    VERBATIM)
endif()
