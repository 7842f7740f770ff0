#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>

#include "base/wide_text.hpp"
#include "frontend/program_arguments.hpp"

namespace korvane {

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
    int count = 0;
    const std::unique_ptr<wchar_t*, decltype(&::LocalFree)> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
    if (wide) {
        for (int i = 0; i < count; ++i) {
            words_.push_back(Utf8FromWide(wide.get()[i]));
        }
    } else {
        words_.assign(argv, argv + argc);  // no better text to be had
    }
    Point();
}

void ShowUtf8OnConsole() noexcept {
    (void)::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace korvane
