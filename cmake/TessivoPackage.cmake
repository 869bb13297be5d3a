# The Debian package: `cpack -G DEB` in the build folder writes
# tessivo128_<version>_amd64.deb with what TessivoInstall.cmake installs,
# under /usr. Its dependencies come from the binaries (dpkg-shlibdeps), so it
# declares Qt 6, OpenCV, LibTorch, HDF5 and the rest as the build used them.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessivo128)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmoray")
set(CPACK_PACKAGE_CONTACT "Velmoray Sensing Instruments <support@velmoray.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.velmoray.example")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for the ZK128 128 x 128 photodetector matrix")
set(CPACK_PACKAGE_DESCRIPTION
    "Tessivo 128 connects to the ZK128 thin-film-transistor photodetector matrix over its FTDI USB bridge, \
sets its bias voltages and current range, shows the matrix live, reads pixel currents, plots them against \
time, calibrates against full-off and full-on references, saves runs as CSV, PNG, MP4 and HDF5, publishes \
frames in shared memory and recognises digits shown to the matrix. Without the vendor's D2XX library it \
runs on a built-in ZK128 simulator. tessivo128-capture records runs without the window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The drop-in library is the package's own; dpkg-shlibdeps looks there too.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/simulator)

include(CPack)
