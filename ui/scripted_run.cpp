#include "ui/scripted_run.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/console_text.h"

namespace ui {

namespace {

constexpr int kMaxAfterMs = 600000;
constexpr int kCloseWaitMs = 60000;  // a stopped download ends well within this

// The rows by the middle of their members' names ("m_modemPathEdit").
constexpr const char* kRowNames[kRowCount] = {"boot",  "usb",       "modem", "rsrc1",
                                              "rsrc2", "factoryFs", "fota"};

bool ParseAfterMs(const std::string& text, int* ms) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > kMaxAfterMs) return false;
    *ms = static_cast<int>(value);
    return true;
}

// One option with its value; false for an unknown or incomplete one.
bool ParseOption(const std::vector<std::string>& arguments, size_t* i, bool withChoices,
                 AutomationOptions* options) {
    const std::string& arg = arguments[*i];
    const bool hasValue = *i + 1 < arguments.size();
    const std::string next = hasValue ? arguments[*i + 1] : std::string();
    if (arg == "--download") {
        options->download = true;
    } else if (arg == "--station") {
        options->station = true;
    } else if (arg == "--screenshot" && hasValue) {
        options->screenshotFile = arguments[++*i];
    } else if (arg == "--after-ms" && hasValue && ParseAfterMs(next, &options->afterMs)) {
        ++*i;
    } else if (!withChoices) {
        return false;
    } else if (arg == "--crc") {
        options->crc = true;
    } else if (arg == "--choose" && hasValue) {
        options->chooseFolder = arguments[++*i];
    } else if (arg == "--full-path" && hasValue && RowByName(next) >= 0) {
        options->fullPathRow = arguments[++*i];
    } else {
        return false;
    }
    return true;
}

// Download pressed; the dialog is closed once the session is over.
int RunDownload(ScriptedWindow& window) {
    window.After(0, [&window] {
        const auto start = std::chrono::steady_clock::now();
        window.PressDownload();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("kelvane: the download took %.2f s\n", took.count());
        std::fflush(stdout);
        window.Close();
    });
    return window.RunUntilEnded(kCloseWaitMs) ? 0 : 1;
}

}  // namespace

bool ParseAutomationOptions(const std::vector<std::string>& arguments, bool withChoices,
                            AutomationOptions* options, std::string* error) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (!ParseOption(arguments, &i, withChoices, options)) {
            *error = "unknown or incomplete option " + arguments[i];
            return false;
        }
    }
    const bool scripted = options->crc || options->station || !options->chooseFolder.empty() ||
                          !options->fullPathRow.empty();
    if (scripted && options->screenshotFile.empty()) {
        *error = withChoices ? "--crc, --choose, --full-path and --station need --screenshot FILE"
                             : "--station needs --screenshot FILE";
        return false;
    }
    return true;
}

int RowByName(const std::string& name) {
    for (int row = 0; row < kRowCount; ++row) {
        if (name == kRowNames[row]) return row;
    }
    return -1;
}

DialogView::Answer PrintingPrompt::Answer(const std::string& text, bool withCancel) {
    if (!withCancel)
        return AskYesNo(text.c_str()) ? DialogView::Answer::kYes : DialogView::Answer::kNo;
    // The close's question during a station: every slot stops at once.
    Print("question (answered No)", text.c_str());
    return DialogView::Answer::kNo;
}

void PrintingPrompt::ShowText(const char* text) {
    Print("message", text);
}

bool PrintingPrompt::AskYesNo(const char* text) {
    Print(m_yes ? "question (answered Yes)" : "question (answered No)", text);
    return m_yes;
}

void PrintingPrompt::Print(const char* what, const char* text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    platform::PrintText(stderr, "kelvane: %s: %s\n", what, text);
}

void ScriptedWindow::ChooseImageSet(const std::string&) {}

void ScriptedWindow::ShowFullPath(Row) {}

int RunScripted(const AutomationOptions& options, ScriptedWindow& window) {
    if (options.screenshotFile.empty()) return RunDownload(window);
    window.After(0, [&window, &options] {
        if (options.crc) window.Click(Control::kCrcCheck);
        if (!options.chooseFolder.empty()) window.ChooseImageSet(options.chooseFolder);
        if (options.download) window.PressDownload();
        if (options.station) window.Click(Control::kStationCheck);
    });
    bool saved = false;
    window.After(options.afterMs, [&] {
        if (!options.fullPathRow.empty()) window.ShowFullPath(Row(RowByName(options.fullPathRow)));
        saved = window.SavePicture(options.screenshotFile);
        platform::PrintText(stderr, "kelvane: %s %s\n", saved ? "saved" : "could not save",
                            options.screenshotFile.c_str());
        window.Close();
    });
    const bool ended = window.RunUntilEnded(options.afterMs + kCloseWaitMs);
    return ended && saved ? 0 : 1;
}

}  // namespace ui
