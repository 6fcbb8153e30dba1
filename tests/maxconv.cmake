# Tests of maxconv/: CRC-32, the MAX format, the LZARI codec, the conversions, the handler and the varkon command.
ps2_unit_test(maxconv_tests
  SOURCES maxconv_format_test.cpp maxconv_lzari_test.cpp maxconv_convert_test.cpp maxconv_handler_test.cpp
          maxconv_cli_test.cpp
  LIBS ps2_maxconv ps2_varkon_handler ps2_platform)
target_compile_definitions(maxconv_tests PRIVATE VARKON_EXE="$<TARGET_FILE:varkon>")
add_dependencies(maxconv_tests varkon)
