# Tests of card/: the card image format.
ps2_unit_test(card_tests
  SOURCES card_format_test.cpp
  LIBS ps2_card ps2_common)
