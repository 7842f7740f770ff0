#include "win/download_app.hpp"

int main() {
    return korvane::DownloadApp::Main();
}
