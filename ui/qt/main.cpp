#include "ui/qt/downloader_app.h"

int main(int argc, char** argv) {
    DownloaderApp app(argc, argv);
    return app.Run();
}
