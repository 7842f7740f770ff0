#include "ui/dialog_units.hpp"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <cmath>

namespace korvane {

QFont DialogFont(int points) {
    // The wanted face first, then Song/Ming stand-ins (fonts-arphic-uming),
    // then a CJK sans face (fonts-wqy-microhei).
    static const QStringList preferred = {
        QStringLiteral("宋体"),           QStringLiteral("SimSun"),
        QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
        QStringLiteral("AR PL UMing HK"), QStringLiteral("WenQuanYi Micro Hei"),
    };
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : preferred) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            return QFont(family, points);
        }
    }
    QFont fallback;
    fallback.setPointSize(points);
    return fallback;
}

DialogUnits DialogUnits::Of(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits{.base_x = (letters / 26 + 1) / 2, .base_y = metrics.height()};
}

int DialogUnits::X(int units) const {
    return static_cast<int>(std::lround(units * base_x / 4.0));
}

int DialogUnits::Y(int units) const {
    return static_cast<int>(std::lround(units * base_y / 8.0));
}

QRect DialogUnits::ToPixels(const QRect& units) const {
    return QRect(X(units.x()), Y(units.y()), X(units.width()), Y(units.height()));
}

QSize DialogUnits::ToPixels(const QSize& units) const {
    return QSize(X(units.width()), Y(units.height()));
}

}  // namespace korvane
