#pragma once

#include <string>
#include <string_view>

namespace korvane {

// The arithmetic of the window's progress bar, the same in every toolkit.
// The share of the range is (position - minimum) / (maximum - minimum) in
// double precision, neither clamped nor checked; results are truncated toward
// zero and saturate instead of overflowing, so no range can fault (an empty
// one gives 0 where the share is undefined).

// How many pixels of a bar `width` pixels wide the position fills: the
// truncated share times the width. Past either end of the range it runs past
// either end of the bar.
[[nodiscard]] int BarPixels(int width, int position, int minimum, int maximum) noexcept;

// The text over the bar (UTF-8): the caption directly followed by the whole
// percentage trunc(share * 100), capped at 100 but not raised (a position
// below the range shows a negative percentage after a caption); the caption
// alone at 0%; with an empty caption "N%" for a percentage above 0, else
// nothing. Empty when minimum >= maximum.
[[nodiscard]] std::string ProgressBarText(std::string_view caption, int position, int minimum,
                                          int maximum);

}  // namespace korvane
