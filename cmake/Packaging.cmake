# Installed files that belong to no single program, and the Debian package built by CPack.
# scripts/package.sh builds the package in build-release/ and checks it with lintian,
# desktop-file-validate and appstreamcli.
install(FILES ${PROJECT_SOURCE_DIR}/data/ombrik.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/data/example.ombrik.ombrik.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Where bash-completion looks a command up on first use.
install(FILES ${PROJECT_SOURCE_DIR}/data/bash-completion/ombrik-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Man pages and the changelog are installed compressed, as Debian wants them. gzip -n keeps
# name and time out of the file, so the same source gives the same package. Compressed when
# configuring (again whenever a source changes), so installing needs no build target.
find_program(OMBRIK_GZIP gzip REQUIRED)
function(ombrik_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/gzipped/${name}.gz)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/gzipped)
  execute_process(COMMAND ${OMBRIK_GZIP} -9 -n -c ${source}
                  OUTPUT_FILE ${compressed} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${source} failed")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  install(FILES ${compressed} DESTINATION ${destination})
endfunction()

ombrik_install_gzipped(${PROJECT_SOURCE_DIR}/src/app/ombrik.1 ${CMAKE_INSTALL_MANDIR}/man1)
ombrik_install_gzipped(${PROJECT_SOURCE_DIR}/src/cli/ombrik-cli.1 ${CMAKE_INSTALL_MANDIR}/man1)
ombrik_install_gzipped(${PROJECT_SOURCE_DIR}/packaging/debian/changelog
                       ${CMAKE_INSTALL_DATADIR}/doc/ombrik)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ombrik)

if(OMBRIK_BUILD_TESTS)
  # The bash completion against the built program's --help, with and without bash-completion.
  add_test(NAME bash_completion
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/completion_test.sh
                   ${PROJECT_SOURCE_DIR}/data/bash-completion/ombrik-cli $<TARGET_FILE:ombrik-cli>)
  set_tests_properties(bash_completion PROPERTIES TIMEOUT 150)
endif()

set(CPACK_PACKAGE_NAME ombrik)
set(CPACK_PACKAGE_VENDOR "Ombrik")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list an album's tracks and download its free audio files")
# Debian shows the description as is: lines of at most 80 columns, "." for an empty line.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Ombrik takes the link of an album on an audio-hosting platform, lists its\n"
    "tracks (number, title, play address) and downloads the freely available\n"
    "audio files into a folder.\n"
    ".\n"
    "It has a desktop program with a Chinese interface (ombrik) and a\n"
    "command-line front end for terminals and scripts (ombrik-cli).")
set(CPACK_PACKAGE_INSTALL_DIRECTORY ombrik)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Ombrik team <team@ombrik.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs really link (Qt 6, libcurl, Duktape, ...), found by
# dpkg-shlibdeps; beside them Qt's translations, which the window loads so that Qt's own
# dialogs speak Chinese. The CJK font is what makes the window's Chinese readable.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")

include(CPack)
