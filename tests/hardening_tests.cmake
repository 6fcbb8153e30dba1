# Hardening: regression cases of fuzz findings, bounds no other test pins down; every golden input through its tool's command line.
ps2_unit_test(hardening_tests
  SOURCES fuzz_findings_test.cpp hardening_bounds_test.cpp
  LIBS ps2_quilban_handler ps2_rename_handler ps2_rename ps2_common)
ps2_cli_test(golden_cli sorvik taviro varkon quilban maleto droprun)
