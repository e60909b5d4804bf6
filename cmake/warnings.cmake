# Warnings for our own targets (not for third-party code).
function(pyrix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wcast-align -Wnull-dereference -Wdouble-promotion)
  if(PYRIX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
