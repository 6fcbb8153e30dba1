# Hardening: regression cases of fuzz findings.
ps2_unit_test(hardening_tests
  SOURCES fuzz_findings_test.cpp
  LIBS ps2_rename ps2_common)
