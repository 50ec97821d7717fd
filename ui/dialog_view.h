// What the window core needs of a toolkit: the controls of template 103 by
// their identity, read and changed with plain values, and the system's file
// and folder dialogs. A toolkit's dialog implements it; the core's handlers
// make every decision and call it. The core's own questions go through Ask;
// its messages and the workers' boxes go through the operator prompt the
// dialog installs (platform/notify.h).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ui/dialog_controls.h"

namespace ui {

// The controls the core reads or changes (enum class Control, written by the
// build from the template): every member of template 103 but the port combo
// and progress bar of each channel, which are reached by channel number.
inline constexpr int kControlCount = static_cast<int>(Control::kCount);

// The template's member name of a control ("m_bootCheck").
const char* ControlName(Control control);

class DialogView {
public:
    virtual ~DialogView() = default;

    // Texts are UTF-8. The status log's lines end in "\r\n"; a view shows
    // them its own way and keeps the last line in sight.
    virtual std::string Text(Control control) const = 0;
    virtual void SetText(Control control, const std::string& text) = 0;
    virtual bool IsChecked(Control control) const = 0;
    // Radio buttons included: the core sets both modem-type radios itself,
    // "neither" being a state of its own.
    virtual void SetChecked(Control control, bool checked) = 0;
    virtual void SetEnabled(Control control, bool enabled) = 0;
    virtual void SetVisible(Control control, bool visible) = 0;
    virtual void SetFocus(Control control) = 0;

    // A channel's port combo: entry 0 is "-----------", entry n is COM n;
    // -1 selects nothing.
    virtual void SetPortEntries(int channel, int portEntries) = 0;
    virtual int PortSelection(int channel) const = 0;
    virtual void SelectPort(int channel, int entry) = 0;
    virtual void SetPortEnabled(int channel, bool enabled) = 0;
    virtual void SetPortToolTip(int channel, const std::string& text) = 0;

    // A channel's progress bar: its text, range and position.
    virtual void SetBarText(int channel, const std::string& text) = 0;
    virtual void SetBarRange(int channel, int lower, int upper) = 0;
    virtual void SetBarPos(int channel, int pos) = 0;

    // The look of a channel's bar line: as before, a passed handset (green), a
    // failed one (red).
    enum class BarLook { kNormal, kPassed, kFailed };
    virtual void SetBarLook(int channel, BarLook look) = 0;

    // The system's dialogs; nothing when the operator cancelled. Paths are
    // file-system byte strings. filter is in the "Modem Files(*.bin)|*.bin||"
    // form; Load and Save As offer image sets ("*.vrk").
    virtual std::optional<std::string> ChooseImageSetToLoad(const std::string& initialFile) = 0;
    virtual std::optional<std::string> ChooseImageSetToSave(const std::string& initialFile) = 0;
    virtual std::optional<std::string> ChooseImageFile(const char* filter,
                                                       const char* defaultSuffix) = 0;
    virtual std::optional<std::string> ChooseFolder(const char* title,
                                                    const std::string& initialFolder) = 0;

    // A question to the operator, on the window thread.
    enum class Answer { kYes, kNo, kCancel };
    // Yes/No, or Yes/No/Cancel when withCancel; a view shows a modal box.
    virtual Answer Ask(const std::string& text, bool withCancel) = 0;

    // Runs session with the window's messages dispatched while it waits, so
    // the workers' notifications and the operator's clicks are handled.
    virtual void RunWithWindowPump(const std::function<void()>& session) = 0;
    // Ends the dialog (a close the operator asked for during a download).
    virtual void EndDialog() = 0;
};

}  // namespace ui
