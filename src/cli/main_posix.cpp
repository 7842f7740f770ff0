#include "cli/commands.hpp"

int main(int argc, char** argv) {
    return korvane::cli::RunProgram(argc, argv);
}
