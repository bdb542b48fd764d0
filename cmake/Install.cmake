# Installation and the Debian package: the client and the reference server,
# the example configuration, the desktop entry, the D-Bus interface, the icon, the AppStream
# metainfo and a manual page for each program. One reverse-DNS id names the
# desktop entry, the icon and the metainfo file.
include(GNUInstallDirs)

set(TAVISK_APP_ID com.velmora.TaviskAlerts)
set(TAVISK_PACKAGE tavisk-alerts)
# The changelog's newest entry is the release this build makes: it must name
# project()'s version, and its date is the release date the metainfo and the
# manual pages give. A version raised without its entry stops the configuration.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/changelog)
file(STRINGS packaging/changelog TAVISK_CHANGELOG_HEAD LIMIT_COUNT 1)
string(REPLACE "." "\\." TAVISK_VERSION_PATTERN "${PROJECT_VERSION}")
if(NOT TAVISK_CHANGELOG_HEAD MATCHES "^${TAVISK_PACKAGE} \\(${TAVISK_VERSION_PATTERN}\\) ")
  message(FATAL_ERROR "packaging/changelog: its newest entry is not version ${PROJECT_VERSION} (project()): "
                      "${TAVISK_CHANGELOG_HEAD}")
endif()
# The signature line ends with the entry's time (RFC 5322, as Debian writes it).
file(STRINGS packaging/changelog TAVISK_CHANGELOG_SIGNATURE REGEX "^ -- .*>  " LIMIT_COUNT 1)
if(NOT TAVISK_CHANGELOG_SIGNATURE)
  message(FATAL_ERROR "packaging/changelog: its newest entry has no signature line with a time")
endif()
string(REGEX REPLACE "^ -- .*>  " "" TAVISK_CHANGELOG_TIME "${TAVISK_CHANGELOG_SIGNATURE}")
execute_process(COMMAND date -u -d "${TAVISK_CHANGELOG_TIME}" +%F OUTPUT_VARIABLE TAVISK_RELEASE_DATE
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(TAVISK_DATA_DIR ${CMAKE_INSTALL_DATADIR}/${TAVISK_PACKAGE})
set(TAVISK_EXAMPLE_PATH ${CMAKE_INSTALL_FULL_DATADIR}/${TAVISK_PACKAGE}/Braxo.ini)
set(TAVISK_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(TAVISK_GENERATED ${PROJECT_BINARY_DIR}/packaging)

# The client looks for the example beside its own folder in the installed
# layout; a copy in the build folder lets a build that is not installed
# offer it too. A trader's first configuration is the demo's without the
# test aids: the fake data form stays off.
file(READ examples/Braxo.ini TAVISK_EXAMPLE_TEXT)
string(REPLACE "\ndebug=1\n" "\ndebug=0\n" TAVISK_EXAMPLE_TEXT "${TAVISK_EXAMPLE_TEXT}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS examples/Braxo.ini)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/${TAVISK_DATA_DIR}/Braxo.ini CONTENT "${TAVISK_EXAMPLE_TEXT}" @ONLY)

install(TARGETS tavisk-alerts tavisk-alert-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/${TAVISK_DATA_DIR}/Braxo.ini DESTINATION ${TAVISK_DATA_DIR})
install(FILES ${TAVISK_PACKAGING}/${TAVISK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The client's D-Bus interface, for programs that talk to it.
install(FILES data/com.velmora.TaviskAlerts1.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/interfaces)
configure_file(${TAVISK_PACKAGING}/${TAVISK_APP_ID}.metainfo.xml.in ${TAVISK_GENERATED}/${TAVISK_APP_ID}.metainfo.xml @ONLY)
install(FILES ${TAVISK_GENERATED}/${TAVISK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${TAVISK_PACKAGING}/icons/${TAVISK_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 32 64 128 256)
  install(FILES ${TAVISK_PACKAGING}/icons/${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${TAVISK_APP_ID}.png)
endforeach()

# Manual pages and the changelog go compressed, as Debian wants them; -n keeps
# the name and time out of the archive so that two builds give the same bytes.
set(TAVISK_COMPRESSED)
foreach(page tavisk-alerts tavisk-alert-server)
  configure_file(${TAVISK_PACKAGING}/man/${page}.1.in ${TAVISK_GENERATED}/${page}.1 @ONLY)
  list(APPEND TAVISK_COMPRESSED ${TAVISK_GENERATED}/${page}.1)
endforeach()
list(APPEND TAVISK_COMPRESSED ${TAVISK_PACKAGING}/changelog)
set(TAVISK_COMPRESSED_OUTPUTS)
foreach(file IN LISTS TAVISK_COMPRESSED)
  get_filename_component(name ${file} NAME)
  add_custom_command(OUTPUT ${TAVISK_GENERATED}/${name}.gz
                     COMMAND gzip -9 -n -c ${file} > ${TAVISK_GENERATED}/${name}.gz
                     DEPENDS ${file} VERBATIM)
  list(APPEND TAVISK_COMPRESSED_OUTPUTS ${TAVISK_GENERATED}/${name}.gz)
endforeach()
add_custom_target(tavisk_packaging_docs ALL DEPENDS ${TAVISK_COMPRESSED_OUTPUTS})
install(FILES ${TAVISK_GENERATED}/tavisk-alerts.1.gz ${TAVISK_GENERATED}/tavisk-alert-server.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TAVISK_PACKAGING}/copyright ${TAVISK_GENERATED}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TAVISK_PACKAGE})

# The Debian package (tools/package-deb.sh). Its dependencies come from the
# shared libraries the programs link (dpkg-shlibdeps), not from a hand list.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TAVISK_PACKAGE})
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_CONTACT "Velmora <tavisk-alerts@velmora.com>" CACHE STRING "Maintainer of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client for a live stream of stock-trading alerts")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavisk Alerts logs in to an alert server, subscribes to the alert categories
its configuration names and shows each category in a window of its own, in one
of eight list styles. A click on a symbol hands it to other trading software; a
price spike can play a sound.
.
The package also holds tavisk-alert-server, a reference alert server with a
synthetic market, so that the client can be tried without a real feed.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# QtKeychain opens libsecret only when it runs: the linked libraries do not name it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsecret-1-0)
set(CPACK_STRIP_FILES ON)
include(CPack)
