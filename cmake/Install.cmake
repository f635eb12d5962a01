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
# AppStream 1.0 names the developer in a <developer> block and notes the old
# toplevel <developer_name> as deprecated; AppStream 0.16 (Debian 12) knows
# only <developer_name> and notes <developer> as unknown. The file is written
# for the AppStream of the system it is built on (the current form when
# appstreamcli is not installed), so it validates without notes on both.
set(metainfo_in ${CMAKE_CURRENT_SOURCE_DIR}/data/${QUORL_EYE_APP_ID}.metainfo.xml.in)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${metainfo_in})
file(READ ${metainfo_in} metainfo)
find_program(QUORL_EYE_APPSTREAMCLI appstreamcli)
if(QUORL_EYE_APPSTREAMCLI)
    execute_process(COMMAND ${QUORL_EYE_APPSTREAMCLI} --version
        OUTPUT_VARIABLE appstream_version ERROR_QUIET RESULT_VARIABLE appstream_rc)
    if(appstream_rc EQUAL 0 AND appstream_version MATCHES "([0-9]+\\.[0-9.]+)"
            AND CMAKE_MATCH_1 VERSION_LESS 1.0)
        string(REGEX REPLACE "<developer id=\"[^\"]*\">[ \n]*<name>([^<]*)</name>[ \n]*</developer>"
            "<developer_name>\\1</developer_name>" metainfo "${metainfo}")
    endif()
endif()
file(CONFIGURE OUTPUT ${QUORL_EYE_APP_ID}.metainfo.xml CONTENT "${metainfo}" @ONLY)
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
