#pragma once

#include <string>
#include <vector>

namespace korvane {

// The program's command line as UTF-8 texts, its name first, in the argc/argv
// form a parser takes: argv as given on POSIX; on Windows the UTF-16 command
// line of the process (argv there is in the ANSI code page, which has no room
// for most names), converted. Made once at the start of main; the pointers
// stay valid as long as the object.
class Utf8Arguments {
public:
    Utf8Arguments(int argc, char** argv);
    Utf8Arguments(const Utf8Arguments&) = delete;
    Utf8Arguments& operator=(const Utf8Arguments&) = delete;

    [[nodiscard]] int Count() const noexcept { return static_cast<int>(words_.size()); }
    [[nodiscard]] const char* const* Values() const noexcept { return pointers_.data(); }

private:
    void Point();  // pointers_ into words_, then a null

    std::vector<std::string> words_;
    std::vector<const char*> pointers_;
};

// Lets a console show the program's UTF-8 output as written (the device's
// Chinese messages): on Windows the console's output code page becomes
// UTF-8; POSIX terminals take the bytes as they are.
void ShowUtf8OnConsole() noexcept;

}  // namespace korvane
