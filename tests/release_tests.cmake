# release_tests.cmake -- what a user meets first: the six command-line tools alike, their manual pages, the
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

# The install into a temporary prefix, and the packages. They read the whole build tree, so they run
# after everything is built (as ctest always does). cpack first brings the build up to date (a no-op
# then), so the two package tests take turns: two builds at once in one folder could clash.
add_test(NAME install_prefix COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/release/install_test.sh
         ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
add_test(NAME package_deb COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/release/package_test.sh deb ${CMAKE_BINARY_DIR})
set_tests_properties(install_prefix package_deb PROPERTIES LABELS package TIMEOUT 300)
# The install test builds a tree of its own first, as scripts/demo.sh does (the first time: minutes).
set_tests_properties(install_prefix PROPERTIES TIMEOUT 900)
set_tests_properties(package_deb PROPERTIES RESOURCE_LOCK ps2_build_tree)
if(PS2_WINDOWS)
  add_test(NAME package_windows_zip
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/release/package_test.sh zip ${CMAKE_BINARY_DIR})
  set_tests_properties(package_windows_zip PROPERTIES
    LABELS package TIMEOUT 300 SKIP_RETURN_CODE 77 RESOURCE_LOCK ps2_build_tree)
endif()
