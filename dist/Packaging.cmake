# The Debian package (make package): CPack's DEB generator over the install rules. The runtime
# libraries come from dpkg-shlibdeps; the GStreamer elements the pipelines create by name come
# from plugin packages: videotestsrc, videoconvert, appsink, playbin from -base, v4l2src, avimux,
# jpegdec from -good; the libav encoders are the optional compressors.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrix)
set(CPACK_PACKAGE_VENDOR Kestrova)
set(CPACK_PACKAGE_CONTACT "Kestrova <tavrix@kestrova.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "video surveillance with motion recording and event actions")
set(CPACK_PACKAGE_DESCRIPTION
  "Tavrix watches cameras, detects motion by comparing every frame with the one
before, and records video around each motion event into AVI or WMV files that
begin with the seconds before the motion. It reacts to camera events with
chains of actions: run a command, play a sound, upload by FTP, send an e-mail
with the recording, send a chat message.

It runs as a Qt desktop application and as a headless systemd service.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base (>= 1.20), gstreamer1.0-plugins-good (>= 1.20)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "gstreamer1.0-libav, gstreamer1.0-alsa | gstreamer1.0-pulseaudio, qt6-qpa-plugins, systemd")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)

include(CPack)
