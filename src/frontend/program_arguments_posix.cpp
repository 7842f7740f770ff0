#include "frontend/program_arguments.hpp"

namespace korvane {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

}  // namespace korvane
