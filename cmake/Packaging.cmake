# Debian packages (cpack -G DEB in a tree configured with -DCMAKE_INSTALL_PREFIX=/usr):
# xlocd (daemon, query tool, configuration, unit, SysV script, policy, man page),
# liborbclient1 (the library) and liborbclient-dev (header, .pc, link and archive).
# A native build takes the shared-library dependencies from dpkg-shlibdeps; a cross
# build (no dpkg database of the board) names them by hand.
if(NOT XLOCD_DEB_ARCH)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE XLOCD_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(XLOCD_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)

# Each package carries the copyright file and the changelog its policy asks for.
execute_process(COMMAND gzip -9nc ${XLOCD_PACKAGING}/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${XLOCD_PACKAGING}/xlocd.sysusers DESTINATION lib/sysusers.d RENAME xlocd.conf
  COMPONENT xlocd EXCLUDE_FROM_ALL)
install(FILES ${XLOCD_PACKAGING}/60-xlocd-rtc.rules DESTINATION lib/udev/rules.d
  COMPONENT xlocd EXCLUDE_FROM_ALL)
install(FILES ${XLOCD_PACKAGING}/xlocd.lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME xlocd COMPONENT xlocd
  EXCLUDE_FROM_ALL)
foreach(component xlocd liborbclient1 liborbclient-dev)
  install(FILES ${XLOCD_PACKAGING}/copyright ${CMAKE_BINARY_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${component} COMPONENT ${component}
    EXCLUDE_FROM_ALL)
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/deb/xlocd/conffiles
  "${XLOCD_CONFIG_DIR}/xlocd\n${XLOCD_CONFIG_DIR}/xlocd.config\n")
foreach(script postinst prerm postrm)
  configure_file(${XLOCD_PACKAGING}/xlocd.${script} ${CMAKE_BINARY_DIR}/deb/xlocd/${script} COPYONLY)
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/deb/lib/shlibs
  "liborbclient 1 liborbclient1 (>= ${PROJECT_VERSION})\n")
file(WRITE ${CMAKE_BINARY_DIR}/deb/lib/triggers "activate-noawait ldconfig\n")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL xlocd liborbclient1 liborbclient-dev)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "xlocd developers <xlocd@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${XLOCD_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/xlocd")

set(CPACK_DEBIAN_XLOCD_PACKAGE_NAME xlocd)
set(CPACK_DEBIAN_XLOCD_PACKAGE_SECTION misc)
# The postinst creates the service user with systemd-sysusers (xlocd.sysusers).
set(XLOCD_DEPENDS "dbus, systemd | systemd-standalone-sysusers | systemd-sysusers")
if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_XLOCD_PACKAGE_DEPENDS "${XLOCD_DEPENDS}, libc6 (>= 2.34), \
libdbus-1-3 (>= 1.11.16), libgcc-s1 (>= 3.0), libgps28 (>= 3.3), libstdc++6 (>= 4.1.1)")
  set(CPACK_DEBIAN_LIBORBCLIENT1_PACKAGE_DEPENDS "libc6 (>= 2.17), libdbus-1-3 (>= 1.9.14)")
else()
  set(CPACK_DEBIAN_XLOCD_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_LIBORBCLIENT1_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_XLOCD_PACKAGE_DEPENDS "${XLOCD_DEPENDS}")
endif()
set(CPACK_DEBIAN_XLOCD_PACKAGE_RECOMMENDS gpsd)
set(CPACK_DEBIAN_XLOCD_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/deb/xlocd/conffiles ${CMAKE_BINARY_DIR}/deb/xlocd/postinst
  ${CMAKE_BINARY_DIR}/deb/xlocd/prerm ${CMAKE_BINARY_DIR}/deb/xlocd/postrm)
set(CPACK_COMPONENT_XLOCD_DESCRIPTION "GPS daemon for vehicle units on the system D-Bus
xlocd reads fixes from a local gpsd and serves them on the system bus as
the method GetGPSData of zel.orb.xlocd. It can set the system clock and an
RTC from GPS time, and takes part in the ZEL ORB framework (HELLO, GOODBYE,
WhoIsThere and a watchdog kept by xcord).")

set(CPACK_DEBIAN_LIBORBCLIENT1_PACKAGE_NAME liborbclient1)
set(CPACK_DEBIAN_LIBORBCLIENT1_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBORBCLIENT1_PACKAGE_CONTROL_EXTRA
  ${CMAKE_BINARY_DIR}/deb/lib/shlibs ${CMAKE_BINARY_DIR}/deb/lib/triggers)
set(CPACK_COMPONENT_LIBORBCLIENT1_DESCRIPTION "ZEL ORB framework client library
The framework's bus client over libdbus: naming, registration, HELLO,
GOODBYE and WhoIsThere, the watchdog calls to xcord, requests,
notifications and a broadcast receiver.")

set(CPACK_DEBIAN_LIBORBCLIENT-DEV_PACKAGE_NAME liborbclient-dev)
set(CPACK_DEBIAN_LIBORBCLIENT-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBORBCLIENT-DEV_PACKAGE_DEPENDS
  "liborbclient1 (= ${PROJECT_VERSION}-1), libdbus-1-dev")
set(CPACK_COMPONENT_LIBORBCLIENT-DEV_DESCRIPTION "ZEL ORB framework client library (development)
The C header orb_client.h, the pkg-config file orbclient.pc, the link to
the shared library and the static library.")
include(CPack)
