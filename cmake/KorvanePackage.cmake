# `cmake --build build --target package` (make package): the Debian package
# build/korvane_<version>_<arch>.deb, made by CPack from the install rules.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four parts; CPack would keep three
set(CPACK_PACKAGE_CONTACT "Korvane maintainers <maintainers@korvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "load firmware into network devices over UDP")
# The extended description: lines within 80 columns, as dpkg shows them.
set(CPACK_PACKAGE_DESCRIPTION
    "Korvane loads a firmware file into a network device on the local network,
one UDP datagram at a time to port 21818, each acknowledged by the device.
.
The package holds the desktop program korvane, the headless korvane-cli
for scripts and fleets of devices, and korvane-devsim, a simulated device
for trying them out without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries come from dpkg-shlibdeps; ping is run as a program, so it is named
# here; the fonts show the window's Chinese captions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS iputils-ping)
if(TARGET korvane)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-arphic-uming | fonts-wqy-microhei")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/KorvanePackageModes.cmake)
include(CPack)

if(KORVANE_TESTS)
  # Builds the package from the finished tree, unpacks it, checks what it
  # installs and runs, and what lintian says of it.
  add_test(NAME package.InstallsAndRuns
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-install.sh ${CMAKE_BINARY_DIR}
                   ${PROJECT_VERSION} $<TARGET_EXISTS:korvane>)
  set_tests_properties(package.InstallsAndRuns PROPERTIES LABELS package TIMEOUT 300)
  # The manual pages: complete, every option of the programs described, and
  # no warning from man or troff.
  add_test(NAME package.ManPages
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-man.sh ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
                   ${KORVANE_MAN_PAGES})
  set_tests_properties(package.ManPages PROPERTIES LABELS package TIMEOUT 120)
endif()
