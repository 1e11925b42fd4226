# The Debian package (scripts/package.sh): everything `cmake --install` puts in place, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvantis)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvantis")
set(CPACK_PACKAGE_CONTACT "Corvantis <info@corvantis.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop manager of to-do lists")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Corvantis keeps to-do lists, one file each, opens them side by side as tabs\n"
    "and moves their tasks through their states, with filters, sort orders,\n"
    "links to files, web pages and other lists, batch insert and printing.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The program is stripped into a second package, corvantis-dbgsym, that holds its debug symbols
# under /usr/lib/debug/.build-id, where debuggers look for them.
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.corvantis.org")
# The libraries the program links come from dpkg-shlibdeps, so a new link needs no edit here.
# libqt6gui6, among them, holds the X11 (xcb) platform plugin that opens the windows. What the
# program loads by name is added: the SVG icon engine (the Breeze pictures are SVG), the fallback
# icon theme and the report's font. Recommended: Qt's further platform plugins, and the free
# Tahoma face the interface writes in (without it, the desktop's own font).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, breeze-icon-theme, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, fonts-wine")
include(CPack)
