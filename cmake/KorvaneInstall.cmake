# Where `cmake --install` (and so the Debian package) puts the programs, their
# manual pages, the bash completion, the package's documentation and, with the
# desktop program, its menu entry, icons and AppStream description.
include(GNUInstallDirs)

set(KORVANE_APP_ID org.korvane.Korvane)
set(KORVANE_MAN_PAGES)
# A directory made by `cmake --install` is 0755 whatever the umask (the
# package's modes are set in KorvanePackageModes.cmake).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# korvane_gzip(SOURCE NAME): build/dist/NAME.gz, compressed as Debian wants it
# (best compression, no name or time stamp, so the bytes depend on the content
# only), made at build time under the target dist-NAME.
function(korvane_gzip source name)
  set(out ${CMAKE_BINARY_DIR}/dist/${name})
  add_custom_command(
    OUTPUT ${out}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${out}
    COMMAND gzip -9nf ${out}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  add_custom_target(dist-${name} ALL DEPENDS ${out}.gz)
endfunction()

# One hand-written manual page per program (docs/man/PROGRAM.1, the version
# filled in from the project's).
function(korvane_install_program program)
  if(NOT TARGET ${program})
    return()
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A stripped install (the package) also drops the compiler's identification,
  # as Debian's own packages do.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()")
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${program}.1 ${page} @ONLY)
  korvane_gzip(${page} ${program}.1)
  install(FILES ${CMAKE_BINARY_DIR}/dist/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(KORVANE_MAN_PAGES ${KORVANE_MAN_PAGES} ${page} PARENT_SCOPE)
endfunction()

korvane_install_program(korvane)
korvane_install_program(korvane-cli)
korvane_install_program(korvane-devsim)

install(FILES ${PROJECT_SOURCE_DIR}/res/korvane-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME korvane-cli)

# /usr/share/doc/korvane: the copyright file, the changelog (the package is
# native: its version has no Debian revision, so the file is changelog.gz) and
# the README.
set(doc ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
korvane_gzip(${PROJECT_SOURCE_DIR}/res/changelog changelog)
korvane_gzip(${PROJECT_SOURCE_DIR}/README.md README.md)
install(FILES ${PROJECT_SOURCE_DIR}/res/copyright ${CMAKE_BINARY_DIR}/dist/changelog.gz
              ${CMAKE_BINARY_DIR}/dist/README.md.gz
        DESTINATION ${doc})

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
