# The Debian package: `cpack -G DEB` in the release build (scripts/package.sh) packs what the
# install rules of packaging/CMakeLists.txt install, below /usr. The dependencies come from
# dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tollwick)
set(CPACK_PACKAGE_VENDOR "The Tollwick developers")
set(CPACK_PACKAGE_CONTACT "The Tollwick developers <tollwick@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/tollwick/tollwick")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reader/writer program for VK3300S magnetic stripe cards")
set(CPACK_PACKAGE_DESCRIPTION
    "Tollwick reads, writes, erases, copies and compares magnetic stripe cards
on the VK3300S USB reader/writer. It encodes and decodes every track itself
(bits per character, parity, sentinels, LRC) for the ISO, AAMVA, CA DMV,
user-defined and raw formats, and keeps read cards in text files.

The package holds the desktop program (tollwick), a command-line tool for
scripts (tollwick-cli), a built-in virtual reader that runs everything
without hardware, and a udev rule that lets the user at the seat open the
reader.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries: the fonts the desktop program is laid out and checked with. Its main
# window and About box are drawn in a CJK face (without one they grow to 630x648 pixels), the
# card data in DejaVu Sans when no Arial-like face is installed.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-zenhei, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
