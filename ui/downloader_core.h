// The main window's decisions without a toolkit: the image rows, the boot
// chain, the ports of the eight channels, the Download command with its
// progress display, image-set Load and Save As, and the settings moved into
// the controls and back. A toolkit's dialog builds the controls, forwards
// each of its events to the handler of the same name and implements
// DialogView; the core does the rest.
//
// Everything runs on the window thread. The workers reach the window only
// through the notification receiver the dialog passes in (a blocking call
// into the window thread that ends in OnNotify) and through the operator
// prompt the dialog installs.
//
// The core owns the window's state: the image set behind the rows, the
// settings, the port each channel holds and what each bar shows. The
// process-wide settings and image set are only the files' side: read into
// the core's copies, and written from them when the files are written and
// when a download starts (the engine and the station records read them).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "config/image_set.h"
#include "config/settings.h"
#include "link/channel.h"
#include "platform/notify.h"
#include "platform/serial_ports.h"
#include "ui/dialog_view.h"
#include "ui/station_panel.h"

namespace ui {

// The rows of the image table, in the order of the CRC edits.
enum Row { kBootRow, kUsbRow, kModemRow, kRsrc1Row, kRsrc2Row, kFactoryFsRow, kFotaRow };
inline constexpr int kRowCount = 7;
inline constexpr int kPortEntries = 30;  // COM1..COM30 after "-----------"

// The controls of one image row.
struct RowControls {
    Control check;
    Control button;
    Control kind;
    Control path;
    Control fullPath;
    Control address;
    Control crc;
};
RowControls ControlsOf(Row row);

// How a view reaches its window thread from a worker.
class WindowThread {
public:
    virtual ~WindowThread() = default;
    virtual bool IsCurrent() const = 0;
    // Runs task on the window thread and returns once it ran (at once,
    // without running it, when there is no window any more).
    virtual void RunBlocking(const std::function<void()>& task) = 0;
};

class DownloaderCore {
public:
    // receiver gets the engine's notifications and must hand them to
    // OnNotify on the window thread; ports lists the system's serial ports.
    DownloaderCore(DialogView& view, platform::NotifyReceiver& receiver,
                   std::unique_ptr<platform::SerialPortSource> ports);

    // The controls' first state, the start directory recorded, the settings
    // and the image set loaded, and with "A u t o" a port search.
    void OnInitDialog();
    // The operator closes the window: true when it may end now (the settings
    // are then written). During a download every channel is stopped first and
    // the view is asked to end the dialog once the session is over.
    bool OnClose();
    // Settings written and the session stopped; done once.
    void TearDown();
    // A view's end, in the order both views keep: the core torn down while
    // the controls are still there (the settings are taken from them), then
    // the operator prompt the view installed taken away, unless another
    // window has installed its own since. The view destroys its window after.
    void EndView(platform::OperatorPrompt* installedPrompt);

    // Settings and image set into the controls; imageSetPath may be null.
    void LoadSettingsToControls(const char* imageSetPath);
    // Ports and address texts from the controls into the settings, then both
    // files written; the settings writer's result.
    int SaveControlsToSettings();
    // The display form of an existing file's or folder's path: its root, an
    // ellipsis, the last folder and the name ("/.../v2/modem.bin"); empty
    // when nothing is found at path.
    static std::string AbbreviatePath(const std::string& path);

    // What both views do alike: a click on a button, check box or radio
    // goes to its handler (false when none takes it); Enter presses no
    // button; a path edit's focus shows or hides the row's full path; a
    // worker's notification (Send) is handled on the window thread.
    bool OnClicked(Control control);
    void OnEnter();
    void OnFocusChanged(Control control, bool gained);
    intptr_t HandOff(unsigned message, uintptr_t code, const void* payload, WindowThread& window);
    // The label of a port combo's entry: "-----------" for 0, else "COM<n>".
    static std::string PortEntryLabel(int entry);

    // Port discovery.
    void OnPortSearch();
    void OnDeviceChange(const platform::PortEvent& event);
    // The same for a system that names only the port ("COM5", as a device
    // change message does): the port list tells the device behind it. A name
    // that is no COM port is ignored.
    void OnDeviceChange(platform::PortEvent::Kind kind, const std::string& portName);
    void OnPortSelected(int channel);
    void OnAutoClicked();

    // The Download command and the engine's notifications.
    void OnDownload();
    intptr_t OnNotify(uintptr_t code, const void* payload);

    // Station mode: the check box starts it and ends it (flashes in progress
    // end first); counts come from source when the program keeps records.
    void OnStationCheck();
    void SetStationCountsSource(std::unique_ptr<StationCountsSource> source) {
        m_station.SetCountsSource(std::move(source));
    }
    bool StationRunning() const { return m_station.Running(); }

    // Image sets.
    void OnLoad();
    void OnSaveAs();

    // Row selection: a row's check box and its button.
    void OnBootCheck();
    void OnUsbCheck();
    void OnModemCheck();
    void OnRsrc1Check();
    void OnRsrc2Check();
    void OnFactoryFsCheck();
    void OnFotaCheck();
    void OnUsbBrowse();
    void OnModemBrowse();
    void OnRsrc1Browse();
    void OnRsrc2Browse();
    void OnFactoryFsBrowse();
    void OnFotaBrowse();

    // The CRC-32 of the whole file, shown in the rows' CRC edits, read in
    // blocks; false, and *crc unchanged, when the file cannot be opened or
    // read to its end.
    static bool FileCrc32(const char* path, uint32_t* crc);

    // The boot chain, the modem type and the full-path display.
    void OnBootButton();
    void OnFullBinary();
    void OnModemType1();
    void OnModemType2();
    void OnBootChange();
    void ShowFullPath(Row row);
    void HideFullPath(Row row);
    // All seven rows unticked and their check boxes disabled; the rows'
    // files, kinds and addresses stay.
    void ClearImageRows();
    void SetBootRowEnabled(int on);

    // State for the view, tests and the automation.
    int Busy() const { return m_busy; }
    int ChannelPort(int channel) const { return m_channelPort[channel]; }
    const std::string& StatusLog() const { return m_statusLog; }
    bool SessionRunning() const { return m_sessionRunning; }
    // The image set behind the rows and the settings, as the window has them.
    const ImageSet& Images() const { return m_imageSet; }
    ImageSet& Images() { return m_imageSet; }
    const Settings& CurrentSettings() const { return m_settings; }
    // True while the channel's bar has just been switched to "Done".
    bool DoneShown(int channel) const { return m_doneShown[channel]; }

private:
    // The files and the core's copies of them.
    void ReadFiles(const char* imageSetPath, config::ReadProblems* problems);
    bool WriteFiles(const config::ImageSetBaseline* baseline);
    void PublishModel() const;

    // Settings into the controls and back.
    void FillPortCombos();
    void LoadPortsFromSettings();
    void HoldStoredPorts();
    void CheckModemTypeRadios(int modemType);
    void LoadBootRow();
    void LoadUsbRow();
    void LoadRow(Row row, int imageSetRow);
    void LoadFotaRow();
    void ClearRowAddressAndKind(const RowControls& row);
    void CopyAddressEdits(ImageSet* set) const;
    void CopyControlsToSettings();

    // Port discovery.
    bool DownloadInProgress() const;
    void AssignPort(int comNumber);
    void ReleaseChannel(int channel);
    void SelectPortEntry(int channel, int comNumber);
    std::string PortToolTip(int comNumber) const;
    bool AnyChannelHolds(int comNumber) const;
    bool AnyChannelHasPort() const;
    void OnPortArrived(const platform::SerialPortInfo& port);
    void OnPortRemoved(int comNumber);
    void EnableDownload(bool enable);

    // The Download command.
    bool FillImageTable();
    void RunDownloadSession();
    void StopAllChannels();
    void ShowProgress(const void* payload);
    void ShowChannelText(const void* payload);
    void PushStatusLog();

    // Station mode.
    bool StartStation();
    void StationEnded();
    bool CloseDuringStation();
    void ShowStationSlot(const void* payload);

    // Image sets.
    bool SaveAsRowsValid();
    bool RowValid(Row row, const char* file, const char* message) const;

    // Row selection.
    void CheckRow(Row row, bool ticked);
    void BrowseRow(Row row);
    void TakeChosenImage(Row row);
    void ShowRowState(const RowControls& c, int check);
    std::string CrcText(const char* path);
    void ShowCrc(Control crcEdit, const char* path, bool zeroWithoutCrc);

    // The boot chain.
    void CancelBootChoice();
    void TakeBootLoader();
    bool TakeBootChain();
    bool ChainFilesPresent();
    bool ReadChainTrailers();
    void TakeUsbBoot();
    void ForgetBootFolder();
    void SetModemType(int modemType);
    void HideBootAddressAndCrc();

    // Controls by identity. The path edits are read-only: what they show is
    // what the core last put there, kept in m_shownPath.
    std::string Text(Control c) const { return m_view.Text(c); }
    bool Checked(Control c) const { return m_view.IsChecked(c); }
    void SetText(Control c, const std::string& text);
    const std::string& ShownPath(Row row) const { return m_shownPath[row]; }
    // The core's own Yes/No questions.
    bool AskYes(const char* text) { return m_view.Ask(text, false) == DialogView::Answer::kYes; }
    void SetChecked(Control c, bool on) { m_view.SetChecked(c, on); }
    void SetEnabled(Control c, bool on) { m_station.SetEnabled(c, on); }
    void SetVisible(Control c, bool on) { m_view.SetVisible(c, on); }

    DialogView& m_view;
    platform::NotifyReceiver& m_receiver;
    std::unique_ptr<platform::SerialPortSource> m_ports;

    int m_busy = 0;
    int m_channelPort[kChannelCount] = {};
    bool m_doneShown[kChannelCount] = {};  // the bar has just been switched to "Done"
    ImageSet m_imageSet{};
    Settings m_settings{};
    bool m_filesRead = false;  // m_imageSet and m_settings hold what the files gave
    std::string m_shownPath[kRowCount];
    std::string m_statusLog;
    // The ports the last search or arrival named, for the combo tooltips.
    std::map<int, platform::SerialPortInfo> m_knownPorts;
    // True from the start of the session runner until it returned; unlike
    // m_busy, which a port removal clears, it holds for the whole session.
    bool m_sessionRunning = false;
    bool m_closePending = false;  // the operator closed the window during a download
    bool m_tornDown = false;
    config::ImageSetBaseline m_shownImageSet;  // the image set as last loaded into the rows
    StationPanel m_station{m_view, m_receiver};
};

}  // namespace ui
