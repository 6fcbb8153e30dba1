# WindowsBuild.cmake -- the native build drives the mingw-w64 cross build of the
# Windows programs as a sub-build in <build>/windows, so one build gives both.
find_program(PS2_MINGW_CXX NAMES x86_64-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++)
if(NOT PS2_MINGW_CXX)
  message(STATUS "mingw-w64 not found: the Windows programs are not built")
  return()
endif()
include(ExternalProject)
set(PS2_WINDOWS_BIN ${CMAKE_BINARY_DIR}/windows/bin CACHE INTERNAL "Windows programs")
ExternalProject_Add(windows_programs
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/windows
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-w64-x86_64.cmake
             -DCMAKE_BUILD_TYPE=Release -G ${CMAKE_GENERATOR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)
