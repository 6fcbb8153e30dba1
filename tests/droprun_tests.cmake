# Tests of droprun/: the core (list, filter, values, expansion, run order),
# the Windows command-line rules, the process layer, the preset file and the CLI end to end.
# The Windows program and its dialog template: tests/gui/droprun_gui_test.cpp (under Wine).
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

