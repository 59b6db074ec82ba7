# tarnwick_<version>_<arch>.deb through CPack: every install rule of the build, the maintainer
# scripts that enable the helper's socket and make the group, and the dependencies that
# dpkg-shlibdeps cannot see (programs run and plugins loaded, not linked).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <maintainers@tarnwick.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mesh VPN client for the desktop")
# Lines of at most 80 characters, as Debian wants them.
set(CPACK_PACKAGE_DESCRIPTION [=[
Tarnwick joins this computer to a mesh VPN: every device of the network
reaches every other directly and encrypted, wherever it is.

The package holds the tray application, the privileged helper that systemd
starts on demand to run the node daemon, and the NetworkManager VPN plugin
that carries the tunnel.]=])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TW_HOME_PAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# pkexec runs the uninstall and the approval, polkitd answers the helper, the Qt plugins draw the
# window and the SVG icons, and a CJK font shows the texts of every language.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "adduser, dbus, network-manager, polkitd, pkexec, hicolor-icon-theme, qt6-qpa-plugins, libqt6svg6, fonts-noto-cjk | fonts-vlgothic")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/debian/lintian-overrides
        DESTINATION share/lintian/overrides RENAME tarnwick)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
