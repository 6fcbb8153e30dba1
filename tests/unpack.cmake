# Tests of unpack/: QUILBAN's manifest, unpack walk, rebuild, handler and CLI.
ps2_unit_test(unpack_tests
  SOURCES unpack_manifest_test.cpp unpack_walk_test.cpp unpack_rebuild_test.cpp unpack_handler_test.cpp
  LIBS ps2_quilban_handler)
