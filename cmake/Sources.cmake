# upd_sources(<out-var> <dir>...): the .cpp files of the given folders (not
# recursive) for this build's operating system. A file named *_win32.cpp is
# compiled only for Windows and *_posix.cpp only elsewhere, so backends sit
# side by side without #ifdef in shared files.
function(upd_sources out)
  set(result "")
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
    list(APPEND result ${found})
  endforeach()
  if(WIN32)
    list(FILTER result EXCLUDE REGEX "_posix\\.(cpp|c)$")
  else()
    list(FILTER result EXCLUDE REGEX "_win32\\.(cpp|c)$")
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# upd_library(<name> <dir> [DEPS libs...]): one static library per layer.
function(upd_library name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  upd_sources(srcs ${dir})
  if(srcs)
    add_library(${name} STATIC ${srcs})
    set(scope PUBLIC)
  else()
    # A layer with no sources yet still carries its dependencies.
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  if(ARG_DEPS)
    target_link_libraries(${name} ${scope} ${ARG_DEPS})
  endif()
endfunction()
