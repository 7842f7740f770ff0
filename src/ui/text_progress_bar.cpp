#include "ui/text_progress_bar.hpp"

namespace korvane {}  // namespace korvane
