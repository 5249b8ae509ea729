# Installing the service, and its Debian package made by CPack.
set(CMAKE_INSTALL_DOCDIR share/doc/modemswitch)
include(GNUInstallDirs)
install(TARGETS modemswitch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/modemswitch.service packaging/modemswitch@.service
    DESTINATION lib/systemd/system)
# An example to adapt, never a live rule: it would claim every adapter of its kind.
install(FILES packaging/60-modemswitch.rules DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME modemswitch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "modemswitch developers <modemswitch@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "switch a device on and off through an analog modem")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A service that holds a modem's serial port and switches a device\n with ATH1 (on) and ATH (off), or relay boards and lines, with a command line,\n MQTT and a web page.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time for --mqtt and --http, so dpkg-shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmosquitto1, libmicrohttpd12")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
