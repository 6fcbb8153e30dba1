# Tests of the page code (card/ecc) and of TAVIRO: the builder, the list, adding paths, the handler, the CLI.
ps2_unit_test(ecc_tests
  SOURCES ecc_page_code_test.cpp
  LIBS ps2_card ps2_common)

ps2_unit_test(cardbuild_tests
  SOURCES cardbuild_builder_test.cpp cardbuild_list_test.cpp cardbuild_handler_test.cpp
  LIBS ps2_taviro_handler ps2_cardbuild ps2_samplegen ps2_card ps2_platform ps2_common)

ps2_cli_test(taviro_cli taviro ps2-samplegen)

# TAVIRO then SORVIK's core.
ps2_unit_test(cardbuild_roundtrip_tests
  SOURCES cardbuild_roundtrip_test.cpp
  LIBS ps2_cardsplit ps2_cardbuild ps2_samplegen ps2_card ps2_common)
