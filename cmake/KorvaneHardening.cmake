# The distribution's hardening flags for every program built for use (the
# sanitizer and fuzz builds have their own instrumentation): what
# `dpkg-buildflags` gives with all hardening features on, that is
# _FORTIFY_SOURCE, the strong stack protector, format checks, full RELRO and
# immediate binding (bindnow); PIE is already the compiler's default on Debian.
# Optimisation and debug information stay the build type's, and file paths in
# the debug information stay absolute, for debugging in the tree.
find_program(KORVANE_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT KORVANE_DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: built without the distribution's hardening flags")
  return()
endif()

function(korvane_dpkg_buildflags name out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${KORVANE_DPKG_BUILDFLAGS} --get ${name}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(O|g|ffile-prefix-map=|fdebug-prefix-map=)")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

korvane_dpkg_buildflags(CPPFLAGS korvane_cppflags)
korvane_dpkg_buildflags(CXXFLAGS korvane_cxxflags)
korvane_dpkg_buildflags(LDFLAGS korvane_ldflags)
foreach(flag ${korvane_cppflags})
  # _FORTIFY_SOURCE needs optimisation: glibc warns (an error here) without it.
  if(flag MATCHES "^-D_FORTIFY_SOURCE")
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
  else()
    add_compile_options(${flag})
  endif()
endforeach()
add_compile_options(${korvane_cxxflags})
add_link_options(${korvane_ldflags})
message(STATUS "Hardening flags: ${korvane_cppflags} ${korvane_cxxflags} ${korvane_ldflags}")
