# `cmake --build build-win64 --target package-windows` (make package-windows):
#   build-win64/korvane-<version>-win64-setup.exe  a per-user NSIS setup
#                                                   (res/windows/korvane.nsi)
#   build-win64/korvane-<version>-win64.zip        the same files, to unpack anywhere
# Both hold stripped copies of the three programs (the build's own keep their
# debug information) and README.txt with Windows line ends. makensis comes
# with the package group (scripts/install-deps.sh) and is looked up when the
# target is built, so a build without it configures all the same.
set(KORVANE_WIN_PACKAGE ${CMAKE_BINARY_DIR}/korvane-${PROJECT_VERSION}-win64)
set(stage ${CMAKE_BINARY_DIR}/package-windows)
set(res ${PROJECT_SOURCE_DIR}/res)
configure_file(${res}/windows/README.txt ${stage}/README.txt @ONLY NEWLINE_STYLE WIN32)

set(programs korvane korvane-cli korvane-devsim)
set(strip_copies)
set(files)
foreach(program IN LISTS programs)
  list(APPEND strip_copies COMMAND ${CMAKE_STRIP} --strip-all -o ${stage}/${program}.exe
       $<TARGET_FILE:${program}>)
  list(APPEND files ${program}.exe)
endforeach()

add_custom_command(
  OUTPUT ${KORVANE_WIN_PACKAGE}-setup.exe ${KORVANE_WIN_PACKAGE}.zip
  ${strip_copies}
  # -WX: a warning of makensis fails the build, as the compiler's do.
  COMMAND makensis -V2 -WX -DVERSION=${PROJECT_VERSION} -DSTAGE=${stage}
          -DICON=${res}/korvane.ico -DOUTFILE=${KORVANE_WIN_PACKAGE}-setup.exe
          ${res}/windows/korvane.nsi
  COMMAND ${CMAKE_COMMAND} -E rm -f ${KORVANE_WIN_PACKAGE}.zip
  COMMAND ${CMAKE_COMMAND} -E tar cf ${KORVANE_WIN_PACKAGE}.zip --format=zip ${files} README.txt
  WORKING_DIRECTORY ${stage}
  DEPENDS ${programs} ${stage}/README.txt ${res}/windows/korvane.nsi ${res}/korvane.ico
  COMMENT "Packing korvane-${PROJECT_VERSION}-win64-setup.exe and korvane-${PROJECT_VERSION}-win64.zip"
  VERBATIM)
add_custom_target(package-windows
                  DEPENDS ${KORVANE_WIN_PACKAGE}-setup.exe ${KORVANE_WIN_PACKAGE}.zip)

if(KORVANE_TESTS)
  # Under wine: the zip's contents, and the setup installed, run and uninstalled
  # silently. Skipped when the packages have not been made.
  add_test(NAME package.WindowsSetup
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-package-check.sh ${CMAKE_BINARY_DIR}
                   ${PROJECT_VERSION})
  set_tests_properties(package.WindowsSetup PROPERTIES LABELS package TIMEOUT 300
                       SKIP_RETURN_CODE 77)
endif()
