# What makes the Windows library a plug-in file for the host: the resources it reads
# without running any code (the PiPL registration bytes and the About dialog template), the
# version resource that Explorer shows, the .aex name, and a runtime linked in statically.
if(WIN32)
  get_property(pyrix_pipl_bin GLOBAL PROPERTY PYRIX_PIPL_BIN)
  if(NOT pyrix_pipl_bin)
    message(FATAL_ERROR "resources/pipl.cmake must publish PYRIX_PIPL_BIN before windows.cmake")
  endif()
  get_filename_component(pyrix_pipl_dir ${pyrix_pipl_bin} DIRECTORY)

  add_library(pyrix_windows_resources OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/vexo_pyrix.rc)
  # The resource compiler finds the generated files through the include path.
  target_include_directories(pyrix_windows_resources PRIVATE ${pyrix_pipl_dir})
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/vexo_pyrix.rc PROPERTIES
                              OBJECT_DEPENDS "${pyrix_pipl_bin};${pyrix_version_rc};${CMAKE_CURRENT_SOURCE_DIR}/about_dialog.rc")
  add_dependencies(pyrix_windows_resources pyrix_pipl pyrix_version)

  # The plug-in target is declared later, in host/.
  function(_pyrix_make_windows_plugin)
    if(NOT TARGET vexo_Pyrix)
      message(FATAL_ERROR "no vexo_Pyrix target to attach the Windows resources to")
    endif()
    target_link_libraries(vexo_Pyrix PRIVATE pyrix_windows_resources)
    set_target_properties(vexo_Pyrix PROPERTIES PREFIX "" SUFFIX ".aex")
    # The compiler's runtime goes inside the plug-in: nothing to install beside it.
    if(MSVC)
      set_target_properties(vexo_Pyrix PROPERTIES
                            MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    elseif(MINGW)
      target_link_options(vexo_Pyrix PRIVATE -static -static-libgcc -static-libstdc++)
      # The static runtime libraries bring their debug sections; a shipped plug-in needs none.
      target_link_options(vexo_Pyrix PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
      # What the link took from each library, for the release's third-party notices.
      target_link_options(vexo_Pyrix PRIVATE -Wl,-Map=$<TARGET_FILE_DIR:vexo_Pyrix>/vexo_Pyrix.map)
    endif()
  endfunction()
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _pyrix_make_windows_plugin)
endif()
