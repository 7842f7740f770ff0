#include <windows.h>

#include "base/wide_text.hpp"
#include "cli/commands.hpp"

// The wide entry point (-municode): arguments arrive in UTF-16, so a file name
// outside the system's code page reaches the program whole, as UTF-8.
int wmain(int argc, wchar_t** argv) {
    korvane::Utf8Arguments arguments(argc, argv);
    // What the program prints is UTF-8 (the device's Chinese messages too).
    (void)::SetConsoleOutputCP(CP_UTF8);
    return korvane::cli::RunProgram(arguments.Count(), arguments.Values());
}
