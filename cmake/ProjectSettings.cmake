# ProjectSettings.cmake -- compiler flags and target helpers shared by every folder

# The version text, from the top CMakeLists.txt, as a header for cli.h (--version) and the .rc files.
set(PS2_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/ps2_version.h.in ${PS2_GENERATED_DIR}/ps2_version.h @ONLY)

if(PS2_SANITIZE)
  add_compile_options(-fsanitize=${PS2_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${PS2_SANITIZE})
endif()

# Warnings for every target of ours.
function(ps2_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
endfunction()

# A core library: pure C++ over byte buffers, no exceptions, no OS headers. Its sources are compiled
# with PS2_CORE, which the platform and front-end headers refuse, and it may link only other core
# libraries (ps2_check_core_links). tests/layer_check.sh checks what its files include.
function(ps2_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -fno-exceptions)
  target_compile_definitions(${name} PRIVATE PS2_CORE)
  set_property(GLOBAL APPEND PROPERTY PS2_CORE_LIBRARIES ${name})
  ps2_warnings(${name})
endfunction()

# A portable library above the core that uses the platform layer (tool handlers): it links ps2_platform.
function(ps2_handler_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -fno-exceptions)
  target_link_libraries(${name} PUBLIC ps2_platform)
  ps2_warnings(${name})
endfunction()

# A library from outside that the core may link: a pure computation over memory that touches no
# system interface (zlib's inflate). Named once, beside the core library that needs it.
function(ps2_core_external_library name)
  set_property(GLOBAL APPEND PROPERTY PS2_CORE_EXTERNALS ${name})
endfunction()

# Called once every folder is read: a core library that links anything but core libraries (and the
# external libraries named above) stops the configure.
function(ps2_check_core_links)
  get_property(cores GLOBAL PROPERTY PS2_CORE_LIBRARIES)
  get_property(externals GLOBAL PROPERTY PS2_CORE_EXTERNALS)
  foreach(lib ${cores})
    get_target_property(links ${lib} LINK_LIBRARIES)
    if(NOT links)
      continue()
    endif()
    foreach(link ${links})
      if(NOT link IN_LIST cores AND NOT link IN_LIST externals)
        message(FATAL_ERROR "${lib} is a core library but links ${link}: "
                            "core libraries link only core libraries (docs/ARCHITECTURE.md)")
      endif()
    endforeach()
  endforeach()
endfunction()

# A Windows program: GUI subsystem, static runtime, resources from resources/.
function(ps2_windows_program name)
  add_executable(${name} WIN32 ${ARGN})
  target_include_directories(${name} PRIVATE ${PS2_GENERATED_DIR}) # ps2_version.h for the .rc file
  target_compile_options(${name} PRIVATE -fno-exceptions)
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  ps2_warnings(${name})
endfunction()

# A command-line tool over the shared CLI plumbing (common/cli.h), from the same sources on both systems:
#   ps2_cli_program(<name> SOURCES <files> LIBS <libs>)
# Natively the program bin/<name>, installed to bin/. In the Windows build the console program
# bin/cli/<name>.exe (static runtime), installed to cli/ in the zip: beside the windows, whose names
# differ only in case (target <name>_cli, since the window TAVIRO is the target taviro there).
function(ps2_cli_program name)
  cmake_parse_arguments(C "" "" "SOURCES;LIBS" ${ARGN})
  set(target ${name})
  if(WIN32)
    set(target ${name}_cli)
  endif()
  add_executable(${target} ${C_SOURCES})
  target_link_libraries(${target} PRIVATE ${C_LIBS} ps2_cli)
  target_compile_options(${target} PRIVATE -fno-exceptions)
  ps2_warnings(${target})
  if(WIN32)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name}
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/cli)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    install(TARGETS ${target} RUNTIME DESTINATION cli)
  else()
    # The C++ runtime linked in: a run then maps and relocates one library less at its start, about a
    # millisecond of every run of a tool that converts one file (sanitizer builds keep the shared one).
    if(NOT PS2_SANITIZE)
      target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION bin)
  endif()
endfunction()
