# Tests of unpack/: QUILBAN's manifest, unpack walk, rebuild, handler and CLI.
ps2_unit_test(unpack_tests
  SOURCES unpack_manifest_test.cpp unpack_walk_test.cpp unpack_rebuild_test.cpp unpack_handler_test.cpp
  LIBS ps2_quilban_handler ps2_samplegen)

# The command-line tool, run as a user would.
ps2_unit_test(unpack_cli_tests SOURCES unpack_cli_test.cpp LIBS ps2_common)
target_compile_definitions(unpack_cli_tests PRIVATE QUILBAN_CLI_PATH="$<TARGET_FILE:quilban>")
add_dependencies(unpack_cli_tests quilban)
