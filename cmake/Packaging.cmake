# `cpack -G DEB` in a Release build folder (scripts/package) makes the Debian package.
set(CPACK_PACKAGE_NAME lumacast2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumacast2")
set(CPACK_PACKAGE_CONTACT "${LC_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the RK-DX420 network device")
set(CPACK_PACKAGE_INSTALL_DIRECTORY lumacast2)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LC_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary above this text and indents it; an empty line parts paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Lumacast2 is a small desktop panel for the RK-DX420, a network device with a
power switch, a lamp, a mute and ${LC_INPUT_COUNT_WORD} inputs. It finds devices on the local
network by a UDP broadcast, connects to the one you pick over TCP and polls it
about every 300 ms; its buttons switch power, lamp, mute and input, and
coloured strips show the state the device reports.

One copy runs per login session.

lumacast2-ctl does the same from the command line, for scripts: it finds
devices, reports their state and switches many of them side by side, with
an exit status for monitoring and JSON output.

lumacast2d watches every device for ever and shares their state and
commands over an MQTT broker, with Home Assistant's discovery; its systemd
unit is installed but not enabled.")
# The libraries come from what the program links; the rest it loads at run
# time: the platform plugins, the window's narrow Latin face and the Japanese
# face of the toolkit's texts. Wayland sessions run it natively with the plugin.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2, fonts-sawarabi-gothic")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
# The example configuration is the administrator's once installed.
file(WRITE ${PROJECT_BINARY_DIR}/package-control/conffiles "/etc/lumacast2/lumacast2d.conf\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package-control/conffiles)
# CPack warns of every absolute destination; /etc and the unit's folder are meant.
set(CPACK_WARN_ON_ABSOLUTE_INSTALL_DESTINATION OFF)
include(CPack)
