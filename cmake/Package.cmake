# The Debian package: `cmake --build build --target package` gives tarvel_<version>_<arch>.deb
# with its dependencies worked out by dpkg-shlibdeps from the programs' linked libraries.
# Build it from a normal build (not TARVEL_SANITIZE): a sanitizer build would also pull in
# and need the sanitizer runtimes.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarvel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for ramp-and-soak temperature profiles on process controllers")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvel runs ramp-and-soak temperature profiles on process temperature controllers over an RS-485 line (Modbus RTU). It ships the desktop console tarvel, the command line tool tarvel-cli and the controller simulator tarvel-sim.")
set(TARVEL_PACKAGE_MAINTAINER "Tarvel developers <tarvel@localhost>" CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARVEL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_STRIP_FILES ON)
include(CPack)
