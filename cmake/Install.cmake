# What `cmake --install` puts in place, and the .deb that CPack makes of it:
# the program, its desktop entry, AppStream metadata, icon and man page.
# The application id names the desktop files and the icon.

include(GNUInstallDirs)

set(QUORL_EYE_APP_ID org.quorleye.QuorlEye)

# Every library it links is a system library: no $ORIGIN run path, which
# qt_standard_project_setup() would give it.
set_target_properties(quorl-eye PROPERTIES INSTALL_RPATH "")
install(TARGETS quorl-eye RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/${QUORL_EYE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(data/${QUORL_EYE_APP_ID}.metainfo.xml.in ${QUORL_EYE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${QUORL_EYE_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Rendered by scripts/render-icons from resources/icons/src/eye_quorl.svg.
install(DIRECTORY data/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES doc/quorl-eye.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorl-eye)
set(CPACK_PACKAGE_VENDOR "The Quorl Eye Vision developers")
set(CPACK_PACKAGE_CONTACT "The Quorl Eye Vision developers <quorl-eye@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "see the camera picture as an animal that sees only movement")
set(CPACK_PACKAGE_DESCRIPTION
    "Quorl Eye Vision shows the live picture of a webcam the way an animal whose eyes register only movement would see it: whatever stands still turns black, and only moving edges light up. It also plays a video file as the camera and has built-in demo cameras.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.example.org/quorl-eye")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # quorl-eye_1.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The libraries the binary links (Qt, libv4l2, TurboJPEG, FFmpeg), found by
# dpkg-shlibdeps (dpkg-dev) from the binary itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
