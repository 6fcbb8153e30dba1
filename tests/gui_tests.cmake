# GUI tests: each tests/gui/<name>_gui_test.cpp driver (built for Windows by the windows_programs
# sub-build, next to the programs) runs under Wine on its own Xvfb through tests/gui/run_under_wine.sh.
# One CTest test per driver (gui_<name>), plus one per locale that the driver's GUI_TEST_LOCALE lines name
# (gui_<name>_<locale>). They share one Wine prefix, made once by the fixture test gui_wineprefix.
set(PS2_WINE /usr/lib/wine/wine64)
find_program(PS2_XVFB Xvfb)
find_program(PS2_MINGW_CXX NAMES x86_64-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++)
if(NOT PS2_WINDOWS OR NOT PS2_MINGW_CXX OR NOT EXISTS ${PS2_WINE} OR NOT PS2_XVFB)
  message(STATUS "GUI tests off (they need PS2_WINDOWS, mingw-w64, ${PS2_WINE} and Xvfb)")
  return()
endif()

# Where cmake/WindowsBuild.cmake's windows_programs sub-build puts the programs and the drivers
# (that file is read after this one, so its PS2_WINDOWS_BIN is not known yet on a first configure).
set(PS2_GUI_BIN ${CMAKE_BINARY_DIR}/windows/bin)
set(PS2_GUI_RUNNER ${CMAKE_CURRENT_SOURCE_DIR}/gui/run_under_wine.sh)

add_test(NAME gui_wineprefix COMMAND ${PS2_GUI_RUNNER} --prepare ${CMAKE_BINARY_DIR})
set_tests_properties(gui_wineprefix PROPERTIES
  FIXTURES_SETUP gui_wine LABELS gui TIMEOUT 300 RESOURCE_LOCK gui_wineprefix)

file(GLOB PS2_GUI_DRIVER_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/gui/*_gui_test.cpp)
list(SORT PS2_GUI_DRIVER_SOURCES)
foreach(source ${PS2_GUI_DRIVER_SOURCES})
  get_filename_component(driver ${source} NAME_WE)
  string(REGEX REPLACE "_gui_test$" "" name ${driver})
  set(exe ${PS2_GUI_BIN}/${driver}.exe)

  # The default run, then one run per locale named by GUI_TEST_LOCALE(test, "locale").
  set(runs "")
  file(STRINGS ${source} locale_lines REGEX "^GUI_TEST_LOCALE\\(")
  foreach(line ${locale_lines})
    if(line MATCHES "^GUI_TEST_LOCALE\\([^,]+, *\"([^\"]+)\"\\)")
      list(APPEND runs ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES runs)

  set(test gui_${name})
  set(tests "")
  file(STRINGS ${source} default_lines REGEX "^GUI_TEST\\(")
  if(default_lines)
    add_test(NAME ${test} COMMAND ${PS2_GUI_RUNNER} ${exe} ${name} ${CMAKE_BINARY_DIR} ${PS2_GUI_BIN} "")
    list(APPEND tests ${test})
  endif()
  foreach(locale ${runs})
    string(REGEX REPLACE "[^A-Za-z0-9_]" "_" suffix ${locale})
    string(REGEX REPLACE "_UTF_8$|_utf8$" "" suffix ${suffix})
    add_test(NAME ${test}_${suffix} COMMAND ${PS2_GUI_RUNNER} ${exe} ${name}_${suffix} ${CMAKE_BINARY_DIR}
                                            ${PS2_GUI_BIN} ${locale})
    list(APPEND tests ${test}_${suffix})
  endforeach()
  set_tests_properties(${tests} PROPERTIES
    FIXTURES_REQUIRED gui_wine RESOURCE_LOCK gui_wineprefix LABELS gui TIMEOUT 300)
endforeach()

# The Windows console programs (cli/ of the Windows build) on the golden folders, as tests/cli/golden_cli.sh
# runs the Linux tools on them; it says which cases differ by design.
add_test(NAME gui_cli_golden COMMAND ${PS2_GUI_RUNNER} --sh ${CMAKE_CURRENT_SOURCE_DIR}/cli/golden_cli.sh
                                     ${CMAKE_BINARY_DIR} ${PS2_GUI_BIN}/cli ${PROJECT_SOURCE_DIR})
set_tests_properties(gui_cli_golden PROPERTIES ENVIRONMENT GOLDEN_WINE=${PS2_WINE}
  FIXTURES_REQUIRED gui_wine RESOURCE_LOCK gui_wineprefix LABELS gui TIMEOUT 300)
