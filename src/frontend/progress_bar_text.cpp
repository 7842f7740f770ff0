#include "frontend/progress_bar_text.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvane {
namespace {

// Truncates toward zero like a C cast, but saturates instead of overflowing
// (NaN from an empty range becomes 0).
int TruncateToInt(double value) noexcept {
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double kLowest = std::numeric_limits<int>::min();
    constexpr double kHighest = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(std::trunc(value), kLowest, kHighest));
}

// Subtracting in double keeps extreme ints from overflowing.
double Fraction(int position, int minimum, int maximum) noexcept {
    return (static_cast<double>(position) - minimum) / (static_cast<double>(maximum) - minimum);
}

}  // namespace

int BarPixels(int width, int position, int minimum, int maximum) noexcept {
    return TruncateToInt(Fraction(position, minimum, maximum) * width);
}

std::string ProgressBarText(std::string_view caption, int position, int minimum, int maximum) {
    if (minimum >= maximum) {
        return {};
    }
    const int percent = TruncateToInt(Fraction(position, minimum, maximum) * 100.0);
    const std::string number = std::to_string(std::min(percent, 100)) + '%';
    if (!caption.empty()) {
        return percent != 0 ? std::string(caption) + number : std::string(caption);
    }
    return percent > 0 ? number : std::string();
}

}  // namespace korvane
