# Tests of the sample generator: what it writes is a well-formed archive.
ps2_unit_test(samplegen_tests
  SOURCES samplegen_test.cpp
  LIBS ps2_samplegen ps2_common)
