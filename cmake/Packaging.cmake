# Install rules for both programs and their desktop files, and the Debian
# package built from them by CPack (scripts/package.sh).
# Sanitizer builds are for tests only; their tanvork-cli would also have to run
# under the sanitizer to write the completion and the manual page.
if(TANVORK_SANITIZE)
  return()
endif()
include(GNUInstallDirs)

set(TANVORK_APP_ID "example.c_seed_3f4b1247.maintainers.tanvork")
set(TANVORK_HOMEPAGE "https://c-seed-3f4b1247.example/maintainers/tanvork")
set(TANVORK_DEVELOPER "Seed 3f4b1247 maintainers")
set(TANVORK_MAINTAINER "${TANVORK_DEVELOPER} <maintainers@users.noreply.c-seed-3f4b1247.example>")
set(TANVORK_LICENSE "LicenseRef-proprietary")
option(TANVORK_PACKAGE "Fail when a tool for the package's generated files (help2man, rsvg-convert) is missing" OFF)

set(pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(pkg_out ${PROJECT_BINARY_DIR}/packaging)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tanvork)  # where the desktop program looks for its documents
file(MAKE_DIRECTORY ${pkg_out}/man)

# Dates in the files come from SOURCE_DATE_EPOCH, else the last commit, so that
# building the same sources again gives the same package.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(source_date_epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE source_date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_rc ERROR_QUIET)
  if(NOT git_rc EQUAL 0 OR NOT source_date_epoch MATCHES "^[0-9]+$")
    string(TIMESTAMP source_date_epoch "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${source_date_epoch})  # read by string(TIMESTAMP)
endif()
string(TIMESTAMP TANVORK_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP TANVORK_RELEASE_YEAR "%Y" UTC)
string(TIMESTAMP TANVORK_RELEASE_MONTH "%B %Y" UTC)
string(TIMESTAMP TANVORK_RELEASE_DATE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)

find_program(GZIP_PROGRAM gzip REQUIRED)
set(tool_mode "")
if(TANVORK_PACKAGE)
  set(tool_mode REQUIRED)
endif()
find_program(HELP2MAN_PROGRAM help2man ${tool_mode})
find_program(RSVG_CONVERT_PROGRAM rsvg-convert ${tool_mode})

set(generated "")

# A manual page, compressed as Debian wants it.
function(tanvork_gzip_man source name)
  add_custom_command(OUTPUT ${pkg_out}/man/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${pkg_out}/man/${name}
    COMMAND ${GZIP_PROGRAM} -9nf ${pkg_out}/man/${name}
    DEPENDS ${source} ${ARGN} VERBATIM)
endfunction()

if(TARGET tanvork)
  # Lets Wayland compositors match the window with its menu entry and icon.
  target_compile_definitions(tanvork PRIVATE TANVORK_APP_ID="${TANVORK_APP_ID}")
  install(TARGETS tanvork RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${pkg_src}/tanvork.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          RENAME ${TANVORK_APP_ID}.desktop)
  configure_file(${pkg_src}/tanvork.metainfo.xml.in ${pkg_out}/${TANVORK_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${pkg_out}/${TANVORK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  install(FILES ${pkg_src}/tanvork.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  if(RSVG_CONVERT_PROGRAM)
    foreach(size 48 128 256)
      set(png ${pkg_out}/icons/${size}x${size}/tanvork.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg_out}/icons/${size}x${size}
        COMMAND ${RSVG_CONVERT_PROGRAM} -w ${size} -h ${size} -o ${png} ${pkg_src}/tanvork.svg
        DEPENDS ${pkg_src}/tanvork.svg VERBATIM)
      list(APPEND generated ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  else()
    message(STATUS "rsvg-convert not found: only the SVG icon is installed")
  endif()

  configure_file(${pkg_src}/tanvork.1.in ${pkg_out}/tanvork.1 @ONLY)
  tanvork_gzip_man(${pkg_out}/tanvork.1 tanvork.1)
  list(APPEND generated ${pkg_out}/man/tanvork.1.gz)
  install(FILES ${pkg_out}/man/tanvork.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(TARGET tanvork-cli)
  install(TARGETS tanvork-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The completion's option lists are read from the program's --help.
  set(completion ${pkg_out}/tanvork-cli)
  add_custom_command(OUTPUT ${completion}
    COMMAND ${CMAKE_COMMAND} -DCLI=$<TARGET_FILE:tanvork-cli> -DTEMPLATE=${pkg_src}/tanvork-cli.bash.in
            -DOUTPUT=${completion} -P ${pkg_src}/completion.cmake
    DEPENDS tanvork-cli ${pkg_src}/tanvork-cli.bash.in ${pkg_src}/completion.cmake VERBATIM)
  list(APPEND generated ${completion})
  install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  if(TANVORK_TESTS)
    add_test(NAME packaging_completion
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/completion_test.sh $<TARGET_FILE:tanvork-cli> ${completion})
  endif()

  # The manual page is the program's own --help, with examples added.
  if(HELP2MAN_PROGRAM)
    add_custom_command(OUTPUT ${pkg_out}/tanvork-cli.1
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${source_date_epoch}
              ${HELP2MAN_PROGRAM} --no-info --locale=C.UTF-8 --include=${pkg_src}/tanvork-cli.h2m
              --output=${pkg_out}/tanvork-cli.1 $<TARGET_FILE:tanvork-cli>
      DEPENDS tanvork-cli ${pkg_src}/tanvork-cli.h2m VERBATIM)
    tanvork_gzip_man(${pkg_out}/tanvork-cli.1 tanvork-cli.1)
    list(APPEND generated ${pkg_out}/man/tanvork-cli.1.gz)
    install(FILES ${pkg_out}/man/tanvork-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    message(STATUS "help2man not found: tanvork-cli gets no manual page")
  endif()
endif()

add_custom_target(tanvork_package_files ALL DEPENDS ${generated})

# Documents, where the desktop program's help menu finds them.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${doc_dir})
install(FILES ${PROJECT_SOURCE_DIR}/docs/USER_GUIDE.md ${PROJECT_SOURCE_DIR}/docs/screenshot.png
        DESTINATION ${doc_dir}/docs)
configure_file(${pkg_src}/copyright.in ${pkg_out}/copyright @ONLY)
install(FILES ${pkg_out}/copyright DESTINATION ${doc_dir})
configure_file(${pkg_src}/changelog.in ${pkg_out}/changelog @ONLY)
add_custom_command(OUTPUT ${pkg_out}/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9nkf ${pkg_out}/changelog
  DEPENDS ${pkg_out}/changelog VERBATIM)
add_custom_target(tanvork_changelog ALL DEPENDS ${pkg_out}/changelog.gz)
install(FILES ${pkg_out}/changelog.gz DESTINATION ${doc_dir})

if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tanvork)
set(CPACK_PACKAGE_VENDOR "${TANVORK_DEVELOPER}")
set(CPACK_PACKAGE_CONTACT "${TANVORK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "merge, check and clean book-source files of e-book readers")
set(CPACK_PACKAGE_DESCRIPTION
"Tanvork is for people who maintain book sources for Chinese e-book reader
apps: JSON files that tell a reader app how to use novel web sites, thousands
at a time, full of duplicates and dead sites.

The desktop program opens and merges such files in any text encoding, filters
them by group, edits sources as JSON or in a form, removes duplicates, probes
every site over HTTP on many threads, marks the dead ones and exports one
clean UTF-8 file. tanvork-cli does the same batch work without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TANVORK_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its window-system plugins at run time; dpkg-shlibdeps cannot see them.
if(TARGET tanvork)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  # Qt's own dialog and button texts in Chinese come from the translations package.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, qt6-translations-l10n")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
