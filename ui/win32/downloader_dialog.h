// The main window on Windows: dialog template 103 from the resources, each
// control's notification forwarded to the window core's handler of the same
// name, and the core's view done with the standard control messages. While a
// download runs it is the engine's notification receiver: a worker's Send is
// a SendMessage into the window thread, so the worker waits until the window
// has handled it.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "link/channel.h"
#include "platform/notify.h"
#include "platform/serial_ports.h"
#include "ui/dialog_view.h"
#include "ui/downloader_core.h"
#include "ui/win32/file_dialogs.h"

namespace ui::win32 {

// What the dialog works through. A part left empty gets the system's own:
// the registry's serial ports, the common dialogs and message boxes on the
// window thread.
struct DialogServices {
    std::unique_ptr<platform::SerialPortSource> ports;
    std::unique_ptr<FileDialogs> fileDialogs;
    platform::OperatorPrompt* prompt = nullptr;  // not owned; must be thread-safe
    // The station's counts from the records; empty: the slots' own count.
    std::unique_ptr<ui::StationCountsSource> stationCounts;
    // The operator's answer to a question; empty: a message box.
    std::function<ui::DialogView::Answer(const std::string& text, bool withCancel)> ask;
};

class DownloaderDialog : public platform::NotifyReceiver,
                         public ui::DialogView,
                         private ui::WindowThread {
public:
    explicit DownloaderDialog(DialogServices services = {});
    ~DownloaderDialog() override;
    DownloaderDialog(const DownloaderDialog&) = delete;
    DownloaderDialog& operator=(const DownloaderDialog&) = delete;

    // Runs the dialog until it ends.
    void DoModal();
    // Creates the dialog without waiting (tests, scripted runs); the caller
    // dispatches its messages. nullptr when it could not be created.
    HWND Create();
    HWND Window() const { return m_hwnd; }
    // True once the dialog ended (the operator closed it).
    bool Ended() const { return m_ended; }
    ui::DownloaderCore& Core() { return *m_core; }

    // The engine's notifications, handed to the core on the window thread.
    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override;

    // The view of the core.
    std::string Text(ui::Control control) const override;
    void SetText(ui::Control control, const std::string& text) override;
    bool IsChecked(ui::Control control) const override;
    void SetChecked(ui::Control control, bool checked) override;
    void SetEnabled(ui::Control control, bool enabled) override;
    void SetVisible(ui::Control control, bool visible) override;
    void SetFocus(ui::Control control) override;
    void SetPortEntries(int channel, int portEntries) override;
    int PortSelection(int channel) const override;
    void SelectPort(int channel, int entry) override;
    void SetPortEnabled(int channel, bool enabled) override;
    void SetPortToolTip(int channel, const std::string& text) override;
    void SetBarText(int channel, const std::string& text) override;
    void SetBarRange(int channel, int lower, int upper) override;
    void SetBarPos(int channel, int pos) override;
    void SetBarLook(int channel, BarLook look) override;
    Answer Ask(const std::string& text, bool withCancel) override;
    std::optional<std::string> ChooseImageSetToLoad(const std::string& initialFile) override;
    std::optional<std::string> ChooseImageSetToSave(const std::string& initialFile) override;
    std::optional<std::string> ChooseImageFile(const char* filter,
                                               const char* defaultSuffix) override;
    std::optional<std::string> ChooseFolder(const char* title,
                                            const std::string& initialFolder) override;
    void RunWithWindowPump(const std::function<void()>& session) override;
    void EndDialog() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool OnInitDialog(HWND hwnd);
    void BindControls();
    void CreateToolTips();
    void OnCommand(int id, int code);
    int ControlOf(int id) const;
    bool IsCurrent() const override;
    void RunBlocking(const std::function<void()>& task) override;
    void OnDeviceChange(WPARAM event, LPARAM data);
    void OnCancel();
    void Finish();
    HWND Item(ui::Control control) const;

    DialogServices m_services;
    std::unique_ptr<platform::OperatorPrompt> m_ownPrompt;
    std::unique_ptr<ui::DownloaderCore> m_core;
    HWND m_hwnd = nullptr;
    HWND m_toolTip = nullptr;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    bool m_modal = false;
    bool m_ended = false;
    bool m_bound = false;
    HWND m_controls[ui::kControlCount] = {};
    std::string m_ansiText[ui::kControlCount];  // texts set that are not UTF-8
    HWND m_portCombo[kChannelCount] = {};
    HWND m_progress[kChannelCount] = {};
};

// The common controls and the window classes the template uses; once per
// process, before the first dialog. False when one could not be registered.
bool RegisterDialogClasses();

}  // namespace ui::win32
