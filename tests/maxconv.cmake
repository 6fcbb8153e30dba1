# Tests of maxconv/: CRC-32, the MAX format, the LZARI codec, the conversions, the handler and the varkon command.
ps2_unit_test(maxconv_tests
  SOURCES maxconv_lzari_test.cpp
  LIBS ps2_maxconv ps2_varkon_handler ps2_platform)
