# Source selection by file name: name.cpp is portable, name_win32.cpp and
# name_posix.cpp are the two backends of an interface, picked by platform.
# Files appear in the build by being added to their folder.
function(vantel_sources out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    foreach(f IN LISTS files)
      if(WIN32 AND f MATCHES "_posix(_test)?\\.cpp$")
        continue()
      endif()
      if(NOT WIN32 AND f MATCHES "_win32(_test)?\\.cpp$")
        continue()
      endif()
      list(APPEND result ${f})
    endforeach()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()
