#pragma once

namespace korvane::testing {

// The platform the tests were built for: the few rows and skips that differ.
#ifdef _WIN32
inline constexpr bool ON_WINDOWS = true;
#else
inline constexpr bool ON_WINDOWS = false;
#endif

}  // namespace korvane::testing
