# Tests of cardsplit/: SORVIK's core (cards split in memory), its file handler and its command line.
ps2_unit_test(cardsplit_tests
  SOURCES cardsplit_core_test.cpp cardsplit_handler_test.cpp
  LIBS ps2_sorvik_handler ps2_samplegen)
ps2_unit_test(cardsplit_cli_tests
  SOURCES cardsplit_cli_test.cpp
  LIBS ps2_cardbuild ps2_card ps2_samplegen ps2_common)
target_compile_definitions(cardsplit_cli_tests PRIVATE PS2_SORVIK_CLI="$<TARGET_FILE:sorvik>")
add_dependencies(cardsplit_cli_tests sorvik)
