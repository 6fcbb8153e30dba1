# release.cmake -- what a user meets first: the six command-line tools alike, their manual pages, the
# installed package (cmake --install into a temporary prefix) and the packages themselves.
ps2_cli_test(suite_cli)

find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_test(NAME help_and_man_pages
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/release/help_man_check.py
                   ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${PROJECT_SOURCE_DIR}/docs/man)
  set_tests_properties(help_and_man_pages PROPERTIES LABELS cli TIMEOUT 120)
endif()

ps2_unit_test(common_cli_tests SOURCES common_cli_test.cpp LIBS ps2_cli)
