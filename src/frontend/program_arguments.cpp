#include "frontend/program_arguments.hpp"

namespace korvane {

void Utf8Arguments::Point() {
    for (const std::string& word : words_) {
        pointers_.push_back(word.c_str());
    }
    pointers_.push_back(nullptr);
}

}  // namespace korvane
