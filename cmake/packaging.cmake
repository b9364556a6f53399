# The Debian package: `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr
# (scripts/package does both) gives quorvel_<version>_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorvel developers <quorvel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "watch a network link's round-trip times, loss and outages")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Sends about one ICMP echo request a second to the LAN gateway and, on an
independent cycle, to an external host, and shows how round-trip times are
distributed, how many requests went unanswered, and when and for how long the
link was slow or dead.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# The Qt and C++ libraries as dpkg-shlibdeps finds them; the rest is loaded at run time or run by
# the postinst: the platform plugins, Qt's Chinese texts, setcap and a font with Chinese glyphs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-translations-l10n, libcap2-bin, fonts-wqy-microhei | fonts-noto-cjk | fonts-arphic-uming")
# dpkg runs a maintainer script only under its own name.
configure_file(${PROJECT_SOURCE_DIR}/data/quorvel.postinst ${PROJECT_BINARY_DIR}/debian/postinst COPYONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
