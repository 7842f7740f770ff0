# Applied to every target of the build so that the core, the programs and the
# tests all carry the same instrumentation.
if(KORVANE_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(KORVANE_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(KORVANE_SANITIZER STREQUAL "fuzzer")
  # clang only: coverage for libFuzzer plus ASan+UBSan; the fuzz targets link
  # the fuzzer's main themselves (tests/fuzz).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT KORVANE_SANITIZER STREQUAL "")
  message(FATAL_ERROR "KORVANE_SANITIZER must be empty, 'address', 'thread' or 'fuzzer'")
endif()
