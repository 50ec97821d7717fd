#include "ui/qt/downloader_app.h"

#include <cstdio>

#include "ui/qt/automation.h"
#include "ui/qt/downloader_dialog.h"

DownloaderApp::DownloaderApp(int& argc, char** argv) : m_app(argc, argv) {
    QApplication::setApplicationName(QStringLiteral("kelvane"));
}

int DownloaderApp::Run() {
    AutomationOptions automation;
    std::string error;
    if (!ParseAutomationOptions(QApplication::arguments(), &automation, &error)) {
        std::fprintf(stderr, "kelvane: %s\n", error.c_str());
        return 2;
    }
    if (automation.Active()) return RunAutomated(automation);
    DownloaderDialog dialog;
    dialog.exec();
    return 0;
}
