#include "ui/automation.h"

#include <QFile>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <mutex>

#include "ui/downloader_dialog.h"

namespace {

constexpr int kMaxAfterMs = 600000;

// Prints what would be a message box; questions are answered No. Called
// from the workers as well, so one line at a time.
class PrintingPrompt : public platform::OperatorPrompt {
public:
    void ShowText(const char* text) override { Print("message", text); }
    bool AskYesNo(const char* text) override {
        Print("question (answered No)", text);
        return false;
    }

private:
    void Print(const char* what, const char* text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fprintf(stderr, "kelvane: %s: %s\n", what, text);
    }
    std::mutex m_mutex;
};

bool ParseAfterMs(const QString& text, int* ms) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > kMaxAfterMs) return false;
    *ms = value;
    return true;
}

bool Grab(DownloaderDialog& dialog, const std::string& file) {
    const bool saved = dialog.grab().save(QFile::decodeName(file.c_str()), "PNG");
    std::fprintf(stderr, "kelvane: %s %s\n", saved ? "saved" : "could not save", file.c_str());
    return saved;
}

}  // namespace

bool ParseAutomationOptions(const QStringList& arguments, AutomationOptions* options,
                            std::string* error) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (arg == QLatin1String("--download")) {
            options->download = true;
        } else if (arg == QLatin1String("--screenshot") && hasValue) {
            options->screenshotFile = QFile::encodeName(arguments.at(++i)).toStdString();
        } else if (arg == QLatin1String("--after-ms") && hasValue &&
                   ParseAfterMs(arguments.at(i + 1), &options->afterMs)) {
            ++i;
        } else {
            *error = "unknown or incomplete option " + arg.toStdString();
            return false;
        }
    }
    if (options->download && !options->Active()) {
        *error = "--download needs --screenshot FILE";
        return false;
    }
    return true;
}

int RunAutomated(const AutomationOptions& options) {
    PrintingPrompt prompt;
    DialogServices services;
    services.prompt = &prompt;
    DownloaderDialog dialog(std::move(services));
    dialog.show();
    if (options.download) QTimer::singleShot(0, &dialog, [&dialog] { dialog.OnDownload(); });
    bool saved = false;
    QTimer::singleShot(options.afterMs, &dialog, [&] {
        saved = Grab(dialog, options.screenshotFile);
        dialog.reject();
    });
    dialog.exec();
    return saved ? 0 : 1;
}
