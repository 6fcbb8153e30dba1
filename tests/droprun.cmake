# Tests of droprun/: the core (list, filter, values, expansion, run order),
# the Windows command-line rules, the resource template and the CLI end to end.
ps2_unit_test(droprun_tests
  SOURCES droprun_core_test.cpp droprun_cmdline_test.cpp droprun_run_test.cpp droprun_process_test.cpp
          droprun_presetfile_test.cpp
  LIBS ps2_droprun)

# The CLI runs a small recorder program that writes down its arguments and folder.
add_executable(droprun_recorder droprun_recorder.cpp)
ps2_warnings(droprun_recorder)
ps2_unit_test(droprun_cli_tests SOURCES droprun_cli_test.cpp LIBS)
target_compile_definitions(droprun_cli_tests PRIVATE
  DROPRUN_CLI="$<TARGET_FILE:droprun>" DROPRUN_RECORDER="$<TARGET_FILE:droprun_recorder>")
add_dependencies(droprun_cli_tests droprun droprun_recorder)

# The dialog template, compiled by the mingw resource compiler when there is one.
find_program(PS2_WINDRES NAMES x86_64-w64-mingw32-windres windres)
set(droprun_res_sources droprun_resource_test.cpp)
ps2_unit_test(droprun_resource_tests SOURCES ${droprun_res_sources} LIBS)
if(PS2_WINDRES)
  set(droprun_res ${CMAKE_CURRENT_BINARY_DIR}/droprun.res)
  add_custom_command(OUTPUT ${droprun_res}
    COMMAND ${PS2_WINDRES} -I${PROJECT_SOURCE_DIR}/resources -O res
            -o ${droprun_res} ${PROJECT_SOURCE_DIR}/resources/droprun.rc
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/droprun.rc ${PROJECT_SOURCE_DIR}/resources/droprun_res.h
    COMMENT "Compiling the DROPRUN dialog template")
  add_custom_target(droprun_res DEPENDS ${droprun_res})
  add_dependencies(droprun_resource_tests droprun_res)
  target_compile_definitions(droprun_resource_tests PRIVATE DROPRUN_RES="${droprun_res}")
endif()
