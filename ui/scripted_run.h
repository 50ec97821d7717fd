// A scripted run of the window, the same for both views: pictures of it
// (scripts/screenshot.sh) and timed downloads (bench/).
//   kelvane --screenshot FILE [--crc] [--choose FOLDER] [--full-path ROW]
//           [--download] [--station] [--after-ms N]
// opens the dialog as usual and then, in this order:
//   --crc          checks "[*]Calculate CRC-32 ";
//   --choose       plays the operator choosing a whole image set from FOLDER:
//                  the second modem platform, Boot Change, the Boot button
//                  (the boot chain in FOLDER), then the Modem, Rsrc1, Rsrc2
//                  and FactoryFS buttons, each answered with the first file
//                  in FOLDER that matches the row's filter; questions are
//                  answered Yes;
//   --full-path    gives ROW's path edit the focus, so that its full path
//                  shows (ROW: boot, usb, modem, rsrc1, rsrc2, factoryFs,
//                  fota);
//   --download     presses Download;
//   --station      ticks Station (the close then answers No: every slot stops);
// takes a picture of the window into FILE after N ms (default 5000), and
// closes the dialog, which stops every channel of a running download first.
//   kelvane --download
// alone presses Download, prints how long the download took and closes the
// dialog once it is over. Message boxes are printed to standard error
// instead of waiting for an operator. --crc, --choose and --full-path are
// taken only by a view that plays them.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/notify.h"
#include "ui/dialog_view.h"
#include "ui/downloader_core.h"

namespace ui {

struct AutomationOptions {
    std::string screenshotFile;
    bool download = false;
    bool station = false;  // ticks Station; the close then stops every slot
    bool crc = false;
    std::string chooseFolder;
    std::string fullPathRow;
    int afterMs = 5000;

    bool Active() const { return download || !screenshotFile.empty(); }
};

// arguments without the program's name. False with a reason for an option
// it does not know or one without its value; no options at all is a normal
// interactive run. withChoices takes --crc, --choose and --full-path.
bool ParseAutomationOptions(const std::vector<std::string>& arguments, bool withChoices,
                            AutomationOptions* options, std::string* error);

// The row of a --full-path name; -1 for none.
int RowByName(const std::string& name);

// Prints what would be a message box; questions get the answer given.
// Called from the workers as well, so one line at a time.
class PrintingPrompt : public platform::OperatorPrompt {
public:
    explicit PrintingPrompt(bool yes) : m_yes(yes) {}
    void ShowText(const char* text) override;
    bool AskYesNo(const char* text) override;
    // The window's own questions: Yes/No as AskYesNo, and No to one with
    // Cancel.
    DialogView::Answer Answer(const std::string& text, bool withCancel);

private:
    void Print(const char* what, const char* text);
    std::mutex m_mutex;
    const bool m_yes;
};

// What a view does for a scripted run, on the window thread.
class ScriptedWindow {
public:
    virtual ~ScriptedWindow() = default;
    // task once the window's messages run, after ms.
    virtual void After(int ms, std::function<void()> task) = 0;
    // Runs the window's messages until the dialog ended; false when it had
    // not ended within limitMs.
    virtual bool RunUntilEnded(int limitMs) = 0;
    // The operator's close (Escape).
    virtual void Close() = 0;
    // The operator's click on a control; Download as the view's scripted
    // runs have always pressed it.
    virtual void Click(Control control) = 0;
    virtual void PressDownload() = 0;
    virtual bool SavePicture(const std::string& file) = 0;
    // Only for a view that takes --choose and --full-path.
    virtual void ChooseImageSet(const std::string& folder);
    virtual void ShowFullPath(Row row);
};

// 0 when the download ran, or the picture was saved, and the dialog ended.
int RunScripted(const AutomationOptions& options, ScriptedWindow& window);

}  // namespace ui
