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
# there. The link is relative (../../bin/pantel for the usual /usr prefix), so it stays
# right inside a package or a DESTDIR tree. DESTDIR is honoured, and the link is listed
# in install_manifest.txt with the other files.
install(CODE "
  set(hackdir \"${PANTEL_XSCREENSAVER_HACKDIR}\")
  set(program \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/pantel\")
  file(RELATIVE_PATH target \"\${hackdir}\" \"\${program}\")
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${hackdir}\")
  file(CREATE_LINK \"\${target}\" \"\$ENV{DESTDIR}\${hackdir}/pantel\" SYMBOLIC)
  message(STATUS \"Installing: \$ENV{DESTDIR}\${hackdir}/pantel -> \${target}\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\$ENV{DESTDIR}\${hackdir}/pantel\")
")

# The manual page and the Debian changelog, compressed as Debian wants them (gzip -9n:
# best compression, no name or time stamp, so the same sources give the same bytes).
find_program(PANTEL_GZIP gzip REQUIRED)
configure_file(${CMAKE_SOURCE_DIR}/docs/pantel.1.in ${CMAKE_BINARY_DIR}/pantel.1 @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/pantel.1.gz
    COMMAND ${PANTEL_GZIP} -9nkf ${CMAKE_BINARY_DIR}/pantel.1
    DEPENDS ${CMAKE_BINARY_DIR}/pantel.1
    COMMENT "Compressing the manual page")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/changelog
    COMMAND ${PANTEL_GZIP} -9nf ${CMAKE_BINARY_DIR}/changelog
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog
    COMMENT "Compressing the Debian changelog")
add_custom_target(pantel_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/pantel.1.gz ${CMAKE_BINARY_DIR}/changelog.gz)

# The package is native: its version is the program's, and the changelog's newest entry
# must name it.
file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog _pantel_changelog_top LIMIT_COUNT 1)
if(NOT _pantel_changelog_top MATCHES "^pantel \\(${PROJECT_VERSION}\\) ")
  message(WARNING "packaging/changelog starts with \"${_pantel_changelog_top}\", "
                  "not with an entry for version ${PROJECT_VERSION}")
endif()

install(FILES ${CMAKE_BINARY_DIR}/pantel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pantel)
# How the idle daemon of a Wayland compositor starts the saver.
install(FILES ${CMAKE_SOURCE_DIR}/resources/examples/swayidle.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pantel/examples)

# Values reach CPack exactly as written here (the description holds quotes).
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME "pantel")
set(CPACK_PACKAGE_VENDOR "The Pantel developers")
set(CPACK_PACKAGE_CONTACT "Pantel developers <maintainers@pantel.example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://pantel.example.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "photo-frame screen saver with a drifting frame and a mail check")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/LICENSE")
# The extended description: CPack puts the summary above it and indents every line by one
# space; an empty line becomes the " ." of a new paragraph.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
Pantel shows your BMP and JPEG photos one at a time in a square picture
frame that drifts and bounces over a black screen. The next photo slides
in with ease-in and ease-out, and a small clock sits on the frame's lower
border. The frame is a golden bar pattern or a picture of your choice.

A settings dialog with a live sample keeps six picture-folder slots, each
with its own frame size, frame width, timing and clock colour. An optional
POP3 mail check turns the frame yellow while mail waits; it never
downloads or deletes mail.

Pantel runs as a saver of XScreenSaver, xfce4-screensaver and
mate-screensaver, and in Wayland sessions when the compositor's idle daemon
(swayidle) starts it; "pantel /c" opens its settings.]=])
set(CPACK_DEBIAN_PACKAGE_SECTION "x11")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# Directories are 0755 in a package, whatever the umask of the machine that builds it.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The libraries the program links (libc, Qt, libjpeg-turbo, xcb) come from
# dpkg-shlibdeps. It cannot see what Qt loads at run time: the X11 platform plugin, the
# Japanese gothic font the dialog's texts are set in, and Qt's own Japanese translations
# for the texts of Qt's standard dialogs inside the settings dialog. Nor does it see
# OpenSSL, which the mail check loads when it first speaks TLS (3.0.0 has every function
# it calls), nor Qt's TIFF reader, which shows TIFF photos when every format is on, nor
# libheif, which the picture library loads when it first meets a HEIF or AVIF picture
# (1.15 has every function it calls; Debian's libheif1 links its HEVC and AV1 decoders,
# so they come with it).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-image-formats-plugins, fonts-ipafont-gothic | fonts-noto-cjk, qt6-translations-l10n, libssl3 (>= 3.0.0), libheif1 (>= 1.15)")
# In a Wayland session the saver runs on Qt's Wayland platform; without it, through
# Xwayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xscreensaver | xfce4-screensaver | mate-screensaver")
# The program is stripped in the package; its debug symbols (the build type is
# RelWithDebInfo) go into pantel-dbgsym.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebugSymbolPackage.cmake)
include(CPack)
