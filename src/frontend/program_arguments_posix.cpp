#include "frontend/program_arguments.hpp"

namespace korvane {

Utf8Arguments::Utf8Arguments(int argc, char** argv) : words_(argv, argv + argc) {
    Point();
}

void ShowUtf8OnConsole() noexcept {}

}  // namespace korvane
