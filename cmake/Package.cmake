# The Debian package: cmake --build build --target package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${MORVIK_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Morvik)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Morvik <${MORVIK_MAINTAINER_EMAIL}>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The synopsis is the project description; this is the extended text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "A small desktop program for talking to an instrument or another device on a
serial line, one command at a time: open a port, type a command, press Send,
and the device's one-line reply is added to a list. The line runs at 19200
baud, 8 data bits, no parity, one stop bit; commands and replies end with a
carriage return.
.
Also included: morvik-send, the same exchange from scripts and the command
line; morvik-ports, which shows and pins the serial ports the program opens
and says why one will not work; and morvik-simdevice, a simulated device to
try it without hardware.")
include(CPack)
