# Tests of rename/: MALETO's names, the REMOVE SJIS fold, the handler on real files.
ps2_unit_test(rename_tests
  SOURCES rename_maleto_test.cpp rename_handler_test.cpp
  LIBS ps2_rename_handler ps2_samplegen)
ps2_cli_test(maleto_cli maleto)
