#include "ui/download_dialog.hpp"

namespace korvane {

DownloadDialog::DownloadDialog(const Settings& settings, Controls /*controls*/, QWidget* parent)
    : QDialog(parent), settings_(settings) {}

}  // namespace korvane
