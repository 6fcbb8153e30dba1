# Tests of maxconv/: CRC-32, the MAX format, the LZARI codec, the conversions, the other writers' saves, the
# handler; the varkon command.
ps2_unit_test(maxconv_tests
  SOURCES maxconv_format_test.cpp maxconv_lzari_test.cpp maxconv_convert_test.cpp maxconv_handler_test.cpp
          maxconv_foreign_test.cpp
  LIBS ps2_maxconv ps2_varkon_handler ps2_platform ps2_samplegen)
ps2_cli_test(varkon_cli varkon ps2-samplegen)
