#include "app/download_app.hpp"

int main(int argc, char** argv) {
    korvane::DownloadApp app(argc, argv);
    return app.Run();
}
