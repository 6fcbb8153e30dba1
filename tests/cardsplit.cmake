# Tests of cardsplit/: SORVIK's core (cards split in memory), its file handler and its command line.
ps2_unit_test(cardsplit_tests
  SOURCES cardsplit_core_test.cpp
  LIBS ps2_cardsplit ps2_samplegen ps2_card ps2_common)
