# The Debian package: `cpack -G DEB` in a configured and built tree.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelmoran)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "pelmoran")
set(CPACK_PACKAGE_CONTACT "pelmoran maintainers <maintainers@pelmoran.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Modbus master that serves its tags to OPC UA clients")
set(CPACK_PACKAGE_DESCRIPTION
    "pelmoran polls coils, inputs and registers from Modbus devices (serial RTU and ASCII,\
 standard and Daniels/ENRON, and Modbus/TCP), decodes them into named tags and serves\
 them with a quality to OPC UA clients, which may write coils and holding registers back.\
 It runs with windows or headless under systemd. Includes pelmoran-sim, a Modbus slave\
 simulator for trials.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://pelmoran.invalid/")
# The libraries the executables link against are found by dpkg-shlibdeps; the
# Qt platform plugins are loaded at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), \
libqt6printsupport6 (>= 6.4), qt6-qpa-plugins (>= 6.4)")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
