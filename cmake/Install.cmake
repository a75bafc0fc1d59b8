# Installation as a screen saver for the desktop's daemons, and the Debian package.
include(GNUInstallDirs)

set(PANTEL_XSCREENSAVER_HACKDIR "/usr/libexec/xscreensaver" CACHE PATH
    "XScreenSaver's folder of savers; a link to pantel is put there")

install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/pantel.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/xscreensaver/config)
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/pantel-settings.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/pantel-screensaver.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications/screensavers
        RENAME pantel.desktop)

# XScreenSaver starts the savers it finds in its own folder: put a link to the program
# there. DESTDIR is honoured, so packages get the link inside their tree.
install(CODE "
  set(hackdir \"\$ENV{DESTDIR}${PANTEL_XSCREENSAVER_HACKDIR}\")
  file(MAKE_DIRECTORY \"\${hackdir}\")
  set(program \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/pantel\")
  file(CREATE_LINK \"\${program}\" \"\${hackdir}/pantel\" SYMBOLIC)
  message(STATUS \"Installing: \${hackdir}/pantel -> \${program}\")
")

set(CPACK_PACKAGE_NAME "pantel")
set(CPACK_PACKAGE_VENDOR "Brightwel")
set(CPACK_PACKAGE_CONTACT "Pantel developers <pantel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Photo-frame screen saver with a drifting frame and a mail check")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_PACKAGE_SECTION "x11")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# The Debian runtime packages the program needs: Qt 6 widgets and network with the X11
# platform plugin, libjpeg-turbo, and a Japanese gothic font for the dialog's texts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), qt6-qpa-plugins, libjpeg62-turbo, libxcb1, fonts-ipafont-gothic | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xscreensaver | xfce4-screensaver | mate-screensaver")
include(CPack)
