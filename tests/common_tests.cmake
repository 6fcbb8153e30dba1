# Tests of common/: frame helpers, PSU archives, the platform layer; the line reader.
ps2_unit_test(common_tests
  SOURCES common_paths_test.cpp common_psu_test.cpp common_platform_test.cpp linereader_test.cpp
  LIBS ps2_common ps2_platform)
