// The main window in Qt: the controls of template 103, each of their events
// forwarded to the window core's handler of the same name, and the core's
// view (texts, check states, combos, progress bars, file dialogs) done with
// Qt widgets. While a download runs it is the engine's notification
// receiver: a worker's Send blocks until the window thread has handled it.
#pragma once

#include <QDialog>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/channel.h"
#include "platform/notify.h"
#include "platform/serial_ports.h"
#include "ui/dialog_view.h"
#include "ui/downloader_core.h"
#include "ui/qt/image_set_dialogs.h"

class QComboBox;
class TextProgressCtrl;

// What the dialog works through. A part left empty gets the system's own:
// the serial-port list and port events of the platform, Qt's file dialogs,
// and message boxes on the window thread.
struct DialogServices {
    std::unique_ptr<platform::SerialPortSource> ports;
    std::unique_ptr<platform::PortEventSource> portEvents;
    std::unique_ptr<ImageSetFileDialogs> fileDialogs;
    platform::OperatorPrompt* prompt = nullptr;  // not owned; must be thread-safe
    // The station's counts from the records; empty: the slots' own count.
    std::unique_ptr<ui::StationCountsSource> stationCounts;
    // The operator's answer to a question; empty: a message box.
    std::function<ui::DialogView::Answer(const std::string& text, bool withCancel)> ask;
};

class DownloaderDialog : public QDialog,
                         public platform::NotifyReceiver,
                         public ui::DialogView,
                         private ui::WindowThread {
    Q_OBJECT

public:
    using Row = ui::Row;
    static constexpr Row kBootRow = ui::kBootRow;
    static constexpr Row kUsbRow = ui::kUsbRow;
    static constexpr Row kModemRow = ui::kModemRow;
    static constexpr Row kRsrc1Row = ui::kRsrc1Row;
    static constexpr Row kRsrc2Row = ui::kRsrc2Row;
    static constexpr Row kFactoryFsRow = ui::kFactoryFsRow;
    static constexpr Row kFotaRow = ui::kFotaRow;
    static constexpr int kRowCount = ui::kRowCount;
    static constexpr int kPortEntries = ui::kPortEntries;

    // Builds the controls of template 103 and initialises them from the
    // settings and the image set in the current directory, which becomes the
    // start directory; ends with a port search.
    explicit DownloaderDialog(DialogServices services = {}, QWidget* parent = nullptr);
    ~DownloaderDialog() override;

    // The core's handlers, as the controls' events reach them.
    ui::DownloaderCore& Core() { return *m_core; }
    void LoadSettingsToControls(const char* imageSetPath) {
        m_core->LoadSettingsToControls(imageSetPath);
    }
    int SaveControlsToSettings() { return m_core->SaveControlsToSettings(); }
    static std::string AbbreviatePath(const std::string& path) {
        return ui::DownloaderCore::AbbreviatePath(path);
    }
    void OnPortSearch() { m_core->OnPortSearch(); }
    void OnDeviceChange(const platform::PortEvent& event) { m_core->OnDeviceChange(event); }
    void OnDownload() { m_core->OnDownload(); }
    intptr_t OnNotify(uintptr_t code, const void* payload) {
        return m_core->OnNotify(code, payload);
    }
    void OnLoad() { m_core->OnLoad(); }
    void OnSaveAs() { m_core->OnSaveAs(); }
    void OnUsbBrowse() { m_core->OnUsbBrowse(); }
    void OnBootButton() { m_core->OnBootButton(); }
    void ShowFullPath(Row row) { m_core->ShowFullPath(row); }
    void HideFullPath(Row row) { m_core->HideFullPath(row); }

    // The engine's notifications, handed to the core on the window thread.
    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override;

    // State for tests and the automation.
    int Busy() const { return m_core->Busy(); }
    int ChannelPort(int channel) const { return m_core->ChannelPort(channel); }
    const std::string& StatusLog() const { return m_core->StatusLog(); }
    bool SessionRunning() const { return m_core->SessionRunning(); }

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

public slots:
    // The OK command (Enter) does nothing.
    void accept() override;
    // Ends the dialog after saving the settings. While a download runs, every
    // channel is stopped first and the dialog ends once the session is over.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillDefaultServices();
    void CreateControls();
    void BindControls();
    void WireSignals();
    bool IsCurrent() const override;
    void RunBlocking(const std::function<void()>& task) override;
    void WatchPortEvents();
    QWidget* Widget(ui::Control control) const;

    QComboBox* m_portCombo[kChannelCount] = {};
    TextProgressCtrl* m_progress[kChannelCount] = {};
    QWidget* m_controls[ui::kControlCount] = {};
    QIcon m_hIcon;

    DialogServices m_services;
    std::unique_ptr<platform::OperatorPrompt> m_ownPrompt;
    std::unique_ptr<ui::DownloaderCore> m_core;
};
