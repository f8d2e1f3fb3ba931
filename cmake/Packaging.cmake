# Installation and the Debian package: the program, its menu entry, icon, metainfo and man page.
include(GNUInstallDirs)

set(ORNAVEL_HOMEPAGE "https://ornavel.example" CACHE STRING
    "The project's home page, named in the package and the metainfo")

install(TARGETS ornavel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
configure_file(data/ornavel.1 ${PROJECT_BINARY_DIR}/data/ornavel.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/data/ornavel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(ORNAVEL_GUI)
  configure_file(data/org.ornavel.Ornavel.metainfo.xml.in
                 ${PROJECT_BINARY_DIR}/data/org.ornavel.Ornavel.metainfo.xml @ONLY)
  install(FILES data/ornavel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/ornavel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${PROJECT_BINARY_DIR}/data/org.ornavel.Ornavel.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ornavel)
set(CPACK_PACKAGE_VENDOR "The Ornavel developers")
set(CPACK_PACKAGE_CONTACT "The Ornavel developers <ornavel@ornavel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "follow logs through your rules in one small window")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "follow logs through your rules in one small window\nOrnavel follows text files that other programs append to, receives syslog over\nUDP, follows the systemd journal and takes local programs' debug output. Every line passes an ordered list of rules, and the kept lines are\nshown, newest last, in one narrow window or printed in console mode.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ORNAVEL_HOMEPAGE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # ornavel_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON) # dependencies from the binaries, not listed by hand
# Qt's Wayland plugin is loaded, not linked: the window natively on Wayland without XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_STRIP_FILES ON)
include(CPack)
