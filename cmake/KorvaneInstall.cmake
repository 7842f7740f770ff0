# Where `cmake --install` (and so the Debian package) puts the programs, their
# manual pages and, with the desktop program, its menu entry, icons and
# AppStream description.
include(GNUInstallDirs)

set(KORVANE_APP_ID org.korvane.Korvane)
find_program(HELP2MAN help2man REQUIRED)

# One manual page per program, made from its --help and --version by help2man.
# The desktop program needs a platform plugin even to print its help.
function(korvane_install_program program summary)
  if(NOT TARGET ${program})
    return()
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            ${HELP2MAN} --no-info --section=1 --name=${summary} --output=${page}
            $<TARGET_FILE:${program}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${program}
    COMMENT "Manual page ${program}.1"
    VERBATIM)
  add_custom_target(${program}-man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

korvane_install_program(korvane "load firmware into a network device over UDP")
korvane_install_program(korvane-cli "load firmware into network devices over UDP, headless")
korvane_install_program(korvane-devsim "a simulated device for the firmware download protocol")

if(TARGET korvane)
  set(res ${PROJECT_SOURCE_DIR}/res)
  install(FILES ${res}/${KORVANE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${res}/${KORVANE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32)
    install(FILES ${res}/korvane-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME korvane.png)
  endforeach()
  install(FILES ${res}/korvane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
