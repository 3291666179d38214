# Installed files that belong to no single program, and the Debian package built by CPack:
#   cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DOMBRIK_BUILD_TESTS=OFF
#   cmake --build build-release && (cd build-release && cpack -G DEB)
install(FILES ${PROJECT_SOURCE_DIR}/data/ombrik.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

set(CPACK_PACKAGE_NAME ombrik)
set(CPACK_PACKAGE_VENDOR "Ombrik")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "List an album's tracks and download its free audio files")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Ombrik takes the link of an album on an audio-hosting platform, lists its tracks\n"
    "(number, title, play address) and downloads the freely available audio files into a\n"
    "folder. It has a desktop program with a Chinese interface (ombrik) and a command-line\n"
    "front end for terminals and scripts (ombrik-cli).")
set(CPACK_PACKAGE_INSTALL_DIRECTORY ombrik)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Ombrik team <team@ombrik.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs really link (Qt 6, libcurl, Duktape, ...), found by
# dpkg-shlibdeps; the CJK font is what makes the window's Chinese readable.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")

include(CPack)
