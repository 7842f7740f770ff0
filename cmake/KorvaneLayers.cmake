# One target per folder of src/, and a build that refuses an include running
# up a layer. A layer's headers are found only through an include root of its
# own: a folder of the build tree holding one link, named after the layer, to
# the layer's folder. A target sees its own root and the roots of the targets
# it links, so "ui/..." is simply not there for a file of link/.

# Gives `target` the include root of `layer` (src/<layer>) with `scope`.
function(korvane_include_root target scope layer)
  set(root ${PROJECT_BINARY_DIR}/include/${layer})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${layer} ${root}/${layer} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# The .cpp files of the current folder in `out`. Platform code stands in
# pairs, foo_posix.cpp beside foo_win32.cpp; each build takes its own.
function(korvane_layer_sources out)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# korvane_layer(TARGET [LINKS target...]): the library of the current folder,
# made of its .cpp files except the programs' main files (*main.cpp), linked
# to the layers below it. A folder of headers only gives an INTERFACE library.
function(korvane_layer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LINKS")
  get_filename_component(layer ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  korvane_layer_sources(sources)
  list(FILTER sources EXCLUDE REGEX "/([a-z_]*_)?main\\.cpp$")
  if(sources)
    add_library(${target} STATIC ${sources})
    korvane_warnings(${target})
    set(scope PUBLIC)
  else()
    add_library(${target} INTERFACE)
    set(scope INTERFACE)
  endif()
  korvane_include_root(${target} ${scope} ${layer})
  target_link_libraries(${target} ${scope} ${arg_LINKS})
endfunction()
