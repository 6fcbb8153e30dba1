# Packaging.cmake -- what `cmake --install` puts where, and the package cpack makes of it.
#   Native build: the six command-line tools, a manual page each and the user guide; `cpack` (or the
#   target `package`) makes a Debian package. The target `windows_package` zips the Windows programs
#   of the windows_programs sub-build (cmake/WindowsBuild.cmake).
#   Windows cross build: the six programs, an example DROPRUN.lst and the user guide as HTML pages;
#   `cpack` there makes the zip.
set(PS2_PACKAGE_NAME ps2-save-tools)
set(PS2_TOOLS sorvik taviro varkon quilban maleto droprun)
# The guide's pages: the index, one per tool, the journeys, what the tools do with bad input.
set(PS2_GUIDE_PAGES GUIDE SORVIK TAVIRO VARKON QUILBAN MALETO DROPRUN JOURNEYS BAD-INPUT)
set(PS2_PACKAGE_MAINTAINER "PS2 save tools developers <ps2-save-tools@localhost>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME ${PS2_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "PS2 save tools developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "PlayStation 2 save tools: memory card images, PSU and MAX archives")
set(CPACK_PACKAGE_DESCRIPTION
    "Six tools for PlayStation 2 game saves kept on a PC, over one exchange format, the PSU archive:
sorvik splits an 8 MB memory card image into PSU archives; taviro builds a card image (raw, or with
the page error code) from PSU archives; varkon converts PSU archives to MAX archives and back;
quilban unpacks a PSU archive into plain files and an editable manifest, and rebuilds it; maleto
renames PSU archives after their save's name and title; droprun runs command templates on files.")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

set(PS2_GUIDE_SOURCES "")
foreach(page ${PS2_GUIDE_PAGES})
  if(NOT EXISTS ${PROJECT_SOURCE_DIR}/docs/${page}.md)
    message(FATAL_ERROR "The guide page docs/${page}.md is missing")
  endif()
  list(APPEND PS2_GUIDE_SOURCES ${PROJECT_SOURCE_DIR}/docs/${page}.md)
endforeach()
file(GLOB PS2_GUIDE_IMAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/images/*.png)

if(WIN32)
  # The zip: ps2-save-tools-<version>-win64/ with the programs at the top, DROPRUN.lst beside
  # DROPRUN.exe (its preset list), and guide/.
  install(TARGETS SORVIK taviro VARKON QUILBAN MALETO DROPRUN RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/droprun/DROPRUN.example.lst DESTINATION . RENAME DROPRUN.lst)

  find_program(PS2_CMARK_GFM cmark-gfm)
  find_package(Python3 COMPONENTS Interpreter)
  if(PS2_CMARK_GFM AND Python3_FOUND)
    set(guide ${CMAKE_BINARY_DIR}/guide)
    add_custom_command(OUTPUT ${guide}/index.html
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${guide}
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/guide-html.py ${PROJECT_SOURCE_DIR}/docs ${guide}
              ../droprun/DROPRUN.example.lst=../DROPRUN.lst
      DEPENDS ${PROJECT_SOURCE_DIR}/scripts/guide-html.py ${PS2_GUIDE_SOURCES} ${PS2_GUIDE_IMAGES}
      COMMENT "User guide as HTML" VERBATIM)
    add_custom_target(guide_html ALL DEPENDS ${guide}/index.html)
    install(DIRECTORY ${guide}/ DESTINATION guide)
  else()
    message(STATUS "cmark-gfm not found: the zip holds the user guide as Markdown")
    install(FILES ${PS2_GUIDE_SOURCES} DESTINATION guide)
    install(FILES ${PS2_GUIDE_IMAGES} DESTINATION guide/images)
  endif()

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PS2_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  include(GNUInstallDirs)
  set(PS2_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PS2_PACKAGE_NAME})

  # Manual pages, compressed as Debian keeps them.
  set(man_pages "")
  foreach(tool ${PS2_TOOLS})
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${tool}.1)
    set(packed ${CMAKE_BINARY_DIR}/man/${tool}.1.gz)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${source} ${packed}
      DEPENDS ${source} VERBATIM)
    list(APPEND man_pages ${packed})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # What `cmake --install` takes from the build tree: the six commands and their manual pages (the rest
  # comes from the sources). scripts/demo.sh builds this target alone, and tests/release/install_test.sh
  # installs from a tree built so.
  add_custom_target(commands)
  add_dependencies(commands ${PS2_TOOLS} man_pages)

  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PS2_GUIDE_SOURCES} DESTINATION ${PS2_DOC_DIR})
  install(FILES ${PS2_GUIDE_IMAGES} DESTINATION ${PS2_DOC_DIR}/images)
  install(FILES ${PROJECT_SOURCE_DIR}/droprun/droprun-linux.example.lst
                ${PROJECT_SOURCE_DIR}/droprun/DROPRUN.example.lst
          DESTINATION ${PS2_DOC_DIR}/examples)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PS2_PACKAGE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  find_program(PS2_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(PS2_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, zlib1g")
  endif()

  if(TARGET windows_programs)
    # The Windows zip, made by the cross build's own cpack, into <build>/packages.
    add_custom_target(windows_package
      COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP --config ${CMAKE_BINARY_DIR}/windows/CPackConfig.cmake
              -B ${CMAKE_BINARY_DIR}/packages
      DEPENDS windows_programs
      COMMENT "Windows zip in ${CMAKE_BINARY_DIR}/packages" VERBATIM)
  endif()
endif()

include(CPack)
