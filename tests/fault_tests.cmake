# Fault injection: every tool's handler under a failed open, read, write, rename, folder creation or block
# allocation at each step of a real job (tests/fault_*_test.cpp); the command-line tools on a full file
# system (tests/cli/fault_tmpfs_cli.sh, when this machine lets a small tmpfs be mounted).
ps2_unit_test(fault_tests
  SOURCES fault_sorvik_test.cpp fault_taviro_test.cpp fault_varkon_test.cpp fault_quilban_test.cpp fault_maleto_test.cpp
  LIBS ps2_rename_handler ps2_quilban_handler ps2_sorvik_handler ps2_taviro_handler ps2_cardbuild ps2_varkon_handler ps2_maxconv ps2_cli ps2_samplegen)
ps2_cli_test(fault_tmpfs_cli sorvik taviro varkon quilban ps2-samplegen)
set_tests_properties(fault_tmpfs_cli PROPERTIES SKIP_RETURN_CODE 77)
