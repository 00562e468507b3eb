# Installing and packaging.
#
#   cmake --install build --prefix /usr/local     the programs, menu entry, icon
#   cd build && cpack -G DEB                       km4410r_<version>_<arch>.deb
#
# Installed: km4410r (the window), km4410r-sim (the register simulator) and
# km4410r-cmd in bin/, the menu entry in share/applications and the icon in
# share/icons/hicolor. A Windows build installs its programs only.
include(GNUInstallDirs)

set(KM_INSTALL_PROGRAMS km4410r-cmd)
foreach(program km4410r km4410r-sim)
  if(TARGET ${program})
    list(APPEND KM_INSTALL_PROGRAMS ${program})
  endif()
endforeach()
install(TARGETS ${KM_INSTALL_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(WIN32)
  # The Windows installer (NSIS) and a zip of the same files:
  #   cpack -G NSIS   km4410r-<version>-win64-setup.exe
  #   cpack -G ZIP    km4410r-<version>-win64.zip
  # into Program Files\KM4410R, a Start menu entry, an uninstaller registered
  # with Windows; /S installs and uninstalls silently.
  set(CPACK_GENERATOR NSIS ZIP)
  set(CPACK_PACKAGE_NAME km4410r)
  set(CPACK_PACKAGE_VENDOR "KM4410R service tool developers")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service and test tool for the KM4410R fiscal cash register")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY KM4410R)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY KM4410R)
  set(CPACK_NSIS_PACKAGE_NAME "KM4410R")
  set(CPACK_NSIS_DISPLAY_NAME "KM4410R ${PROJECT_VERSION}")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
  set(CPACK_NSIS_INSTALLED_ICON_NAME "km4410r.exe")
  set(CPACK_PACKAGE_EXECUTABLES km4410r "Тест регистратора расчетных операций KM4410R")
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_FILE_NAME km4410r-${PROJECT_VERSION}-win64)
  # The installer's own name ends in -setup; the template is CMake's, made a
  # 64-bit Unicode installer (cmake/nsis/NSIS.template.in).
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/nsis/CPackNames.cmake)
  list(PREPEND CMAKE_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/nsis)
  include(CPack)
  return()
endif()

set(KM_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
if(TARGET km4410r)
  install(FILES ${KM_PACKAGING_DIR}/km4410r.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${KM_PACKAGING_DIR}/km4410r.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${KM_PACKAGING_DIR}/km4410r-48.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME km4410r.png)
endif()

# The Debian package: `cpack -G DEB` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME km4410r)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KM4410R service tool developers <km4410r-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service and test tool for the KM4410R fiscal cash register")
set(CPACK_PACKAGE_DESCRIPTION
  "A desktop tool for service engineers of the KM4410R fiscal cash register on a serial port:\n\
the unattended register test with its log, the paper-cut and beep stress tests, and the\n\
service operations (display, drawer, reports, passwords, network, clock, tax rates).\n\
Comes with km4410r-sim, a simulated register on a pty, and km4410r-cmd, which sends one\n\
command and prints the decoded answer.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# What dpkg-shlibdeps finds for the programs on Debian 12, written out so that
# a package can be made without it; the platform plugins (xcb, wayland) are
# loaded at run time and named on their own.
set(KM_DEB_DEPENDS "libc6 (>= 2.34)" "libgcc-s1 (>= 3.0)" "libstdc++6 (>= 11)")
if(TARGET km4410r)
  list(APPEND KM_DEB_DEPENDS "libqt6core6 (>= 6.4.0)" "libqt6gui6 (>= 6.1.2)"
       "libqt6widgets6 (>= 6.1.2)" "qt6-qpa-plugins" "libqt6sql6 (>= 6.4.0)"
       "libqt6sql6-sqlite" "libqt6sql6-psql")
endif()
list(JOIN KM_DEB_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
include(CPack)
