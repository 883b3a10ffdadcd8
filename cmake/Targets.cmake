# How every target of the project is made. Sources are listed by name in
# each folder's CMakeLists.txt: a file compiled everywhere under SOURCES, a
# backend under POSIX or WINDOWS, so a reader sees each build's files and a
# new file is added on purpose.

# What every target of ours compiles with: the warnings (errors here), the
# include root (every header is included by its path from the project's
# root, "ourlib/src/ErrFrame.h"; the one CMake makes, "ProgramVersion.h",
# by its name), the sanitizers of the linux-asan preset, and on Windows one
# self-contained executable per program (no mingw runtime DLLs beside it).
add_library(upd_build INTERFACE)
target_compile_options(upd_build INTERFACE -Wall -Wextra -Werror)
target_include_directories(upd_build INTERFACE
  ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
if(UPD_SANITIZE)
  target_compile_options(upd_build INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(upd_build INTERFACE -fsanitize=address,undefined)
endif()
if(WIN32)
  target_link_options(upd_build INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# The version defines of the C++ code and of the resources.
configure_file(${PROJECT_SOURCE_DIR}/cmake/ProgramVersion.h.in
  ${PROJECT_BINARY_DIR}/generated/ProgramVersion.h @ONLY)

# upd_sources(<out-var> [SOURCES files...] [POSIX files...] [WINDOWS files...]):
# the files of this build's operating system.
function(upd_sources out)
  cmake_parse_arguments(ARG "" "" "SOURCES;POSIX;WINDOWS" ${ARGN})
  set(result ${ARG_SOURCES})
  if(WIN32)
    list(APPEND result ${ARG_WINDOWS})
  else()
    list(APPEND result ${ARG_POSIX})
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# upd_library(<name> SOURCES files... [POSIX files...] [WINDOWS files...]
#             [DEPS libraries...]): one static library of a layer.
function(upd_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;POSIX;WINDOWS;DEPS" ${ARGN})
  upd_sources(srcs SOURCES ${ARG_SOURCES} POSIX ${ARG_POSIX} WINDOWS ${ARG_WINDOWS})
  add_library(${name} STATIC ${srcs})
  target_link_libraries(${name} PUBLIC upd_build ${ARG_DEPS})
endfunction()
