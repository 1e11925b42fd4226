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
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.corvantis.org")
# The libraries the program links come from dpkg-shlibdeps; what it loads by name is added here:
# the SVG icon engine (the Breeze pictures are SVG), the fallback icon theme and the fonts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, breeze-icon-theme, fonts-liberation")
include(CPack)
