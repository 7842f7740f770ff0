#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace korvane {

// The dialogs' font: "宋体" at `points` when installed, else the first
// installed Song/Ming face, else WenQuanYi Micro Hei, so Chinese captions
// always render.
[[nodiscard]] QFont DialogFont(int points);

// Dialog units of a font, as dialog templates measure: a horizontal unit is a
// quarter of the font's average character width, a vertical unit an eighth of
// its height. Positions and sizes convert alike, each rounded to pixels.
struct DialogUnits {
    int base_x = 0;  // (width of "A..Za..z" / 26 + 1) / 2
    int base_y = 0;  // the font's height

    [[nodiscard]] static DialogUnits Of(const QFont& font);
    [[nodiscard]] int X(int units) const;
    [[nodiscard]] int Y(int units) const;
    [[nodiscard]] QRect ToPixels(const QRect& units) const;
    [[nodiscard]] QSize ToPixels(const QSize& units) const;
};

}  // namespace korvane
