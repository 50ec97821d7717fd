// The kelvane program: one application object that shows the main dialog
// modally and ends when the dialog closes.
#pragma once

#include <QApplication>

class DownloaderApp {
public:
    DownloaderApp(int& argc, char** argv);
    // Runs the dialog (or, with the automation options, a scripted run of
    // it); the program's exit status.
    int Run();

private:
    QApplication m_app;
};
