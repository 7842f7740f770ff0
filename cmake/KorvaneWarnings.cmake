# Warnings as errors on our own targets only; third-party headers come in as
# system includes and stay out of it.
function(korvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
                                           -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                                           -Wcast-align -Woverloaded-virtual -Wformat=2
                                           # designated initializers leave defaulted members out on purpose
                                           -Wno-missing-field-initializers)
endfunction()
