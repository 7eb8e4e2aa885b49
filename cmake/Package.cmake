# The Debian package: `cpack -G DEB` in the build folder, or `make deb`.
# It holds whatever `cmake --install` puts in place, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexmorchm)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "VexmorChm")
set(CPACK_PACKAGE_CONTACT "VexmorChm developers <vexmorchm@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list and copy the streams of compiled HTML help files")
# One text: separate arguments to set() would be joined with ";".
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "VexmorChm opens compiled HTML help files (.chm), lists every stream stored\n"
    "inside with its size, and copies one stream or all of them to disk,\n"
    "rebuilding the file's inner folder tree. It reads help files with its own\n"
    "reader. The window (vexmorchm) speaks Simplified Chinese; vexmorchm-cli\n"
    "lists, extracts, tests and describes help files for scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_NAME vexmorchm)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # vexmorchm_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies as dpkg-shlibdeps finds them in the programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's Chinese texts need a CJK font; Qt's own dialogs their translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei, qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
include(CPack)
