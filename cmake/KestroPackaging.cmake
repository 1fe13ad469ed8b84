# What an installation holds besides the programs and the sample firmware: the desktop entry,
# the AppStream metainfo, the icon, the udev rule for the programming cable, the manual page and
# the bash completion; and the .deb package.
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/kestro-upgrade-kit.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # What software centres list (AppStream); validated by the packaging test.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/dev.kestro.upgradekit.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/kestro-upgrade-kit.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # udev reads rules below <prefix>/lib, never below a multiarch library folder.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/60-kestro-programming-cable.rules
    DESTINATION lib/udev/rules.d)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/kestro-upgrade.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Where bash-completion loads completions on demand, by the command's name.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/kestro-upgrade.bash-completion
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kestro-upgrade)
endif()

set(CPACK_PACKAGE_NAME kestro-upgrade-kit)
set(CPACK_PACKAGE_VENDOR "Kestro Upgrade Kit developers")
set(CPACK_PACKAGE_CONTACT "Kestro Upgrade Kit developers <kit@kestro.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Firmware upgrade for Kestro two-way radios over their USB-serial programming cable")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the programs themselves; the window also needs Qt's platform
# plugins, which no program links directly.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
