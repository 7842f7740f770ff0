#pragma once

#include <QDialog>

#include "app/settings.hpp"

namespace korvane {

// Placeholder: the main dialog comes next.
class DownloadDialog final : public QDialog {
public:
    enum class Controls { Operator, Maintenance };
    DownloadDialog(const Settings& settings, Controls controls, QWidget* parent = nullptr);

private:
    const Settings& settings_;
};

}  // namespace korvane
