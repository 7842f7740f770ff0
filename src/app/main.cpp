#include "app/download_app.hpp"

int main(int argc, char** argv) {
    return korvane::DownloadApp::Main(argc, argv);
}
