// The main window: one dialog with the image rows, the eight channels' port
// choices and progress bars, the status line and the status log. While a
// download runs it is the engine's notification receiver.
//
// Everything runs on the window thread. The workers reach the dialog only
// through Send (a blocking call into the window thread) and through the
// operator prompt the dialog installs while it lives.
#pragma once

#include <QDialog>
#include <QIcon>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "config/image_set.h"
#include "link/channel.h"
#include "platform/notify.h"
#include "platform/serial_ports.h"
#include "ui/image_set_dialogs.h"

class HexAddressEdit;
class NoTypingEdit;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSocketNotifier;
class TextProgressCtrl;

// 1 while a progress bar has just been switched to "Done"; any other progress
// notification clears it. Shared by all channels; window thread only.
extern int g_doneShown;

// What the dialog works through. A part left empty gets the system's own:
// the serial-port list and port events of the platform, Qt's file dialogs,
// and message boxes on the window thread.
struct DialogServices {
    std::unique_ptr<platform::SerialPortSource> ports;
    std::unique_ptr<platform::PortEventSource> portEvents;
    std::unique_ptr<ImageSetFileDialogs> fileDialogs;
    platform::OperatorPrompt* prompt = nullptr;  // not owned; must be thread-safe
};

class DownloaderDialog : public QDialog, public platform::NotifyReceiver {
    Q_OBJECT

public:
    // The rows of the image table, in the order of the CRC edits.
    enum Row { kBootRow, kUsbRow, kModemRow, kRsrc1Row, kRsrc2Row, kFactoryFsRow, kFotaRow };
    static constexpr int kRowCount = 7;
    static constexpr int kPortEntries = 30;  // COM1..COM30 after "-----------"

    // Builds the controls of template 103 and initialises them from the
    // settings and the image set in the current directory, which becomes the
    // start directory; ends with a port search.
    explicit DownloaderDialog(DialogServices services = {}, QWidget* parent = nullptr);
    ~DownloaderDialog() override;

    // Settings and image set into the controls; imageSetPath may be null.
    void LoadSettingsToControls(const char* imageSetPath);
    // Ports and address texts from the controls into the settings, then both
    // files written; the settings writer's result.
    int SaveControlsToSettings();
    // The display form of an existing file's or folder's path: its root, an
    // ellipsis, the last folder and the name ("/.../v2/modem.bin"); empty
    // when nothing is found at path.
    static std::string AbbreviatePath(const std::string& path);

    // Port discovery.
    void OnPortSearch();
    void OnDeviceChange(const platform::PortEvent& event);
    void OnPortSelected(int channel);
    void OnAutoClicked();

    // The Download command and the engine's notifications.
    void OnDownload();
    intptr_t OnNotify(uintptr_t code, const void* payload);
    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override;

    // Image sets.
    void OnLoad();
    void OnSaveAs();

    // Row selection (image_rows.cpp): a row's check box and its button.
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

    // CRC-32 of image files, shown in the rows' CRC edits (image_rows.cpp).
    // The low count bits of value in reverse order; 0 for a count below 1.
    static uint32_t ReflectBits(uint32_t value, int count);
    void BuildCrcTable();
    // Continues crc over the bytes (0 starts a new one); uses m_crcTable.
    uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t crc = 0) const;
    // The CRC-32 of the whole file, read in blocks; false, and *crc
    // unchanged, when the file cannot be opened or read to its end.
    bool FileCrc32(const char* path, uint32_t* crc);

    // The boot chain, the modem type and the full-path display
    // (boot_chain.cpp).
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

    // State for tests and the automation.
    int Busy() const { return m_busy; }
    int ChannelPort(int channel) const { return m_channelPort[channel]; }
    const std::string& StatusLog() const { return m_statusLog; }
    bool SessionRunning() const { return m_sessionRunning; }

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
    // The controls of one image row.
    struct RowControls {
        QCheckBox* check;
        QPushButton* button;
        QLineEdit* kind;
        QLineEdit* path;
        QLineEdit* fullPath;
        QLineEdit* address;
        HexAddressEdit* crc;
    };

    // Construction and teardown (downloader_dialog.cpp).
    void FillDefaultServices();
    void CreateControls();
    void BindControls();
    void BindArrays();
    void WireSignals();
    void WireRows();
    void WatchPortEvents();
    void OnInitDialog();
    void FillPortCombos();
    void TearDown();
    RowControls Controls(Row row) const;

    // Settings into the controls and back (dialog_settings.cpp).
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

    // Port discovery (port_discovery.cpp).
    bool DownloadInProgress() const;
    void AssignPort(int comNumber);
    void ReleaseChannel(int channel);
    void SelectPortEntry(int channel, int comNumber);
    void RememberPort(const platform::SerialPortInfo& port);
    QString PortToolTip(int comNumber) const;
    bool AnyChannelHolds(int comNumber) const;
    bool AnyChannelHasPort() const;
    void OnPortArrived(const platform::SerialPortInfo& port);
    void OnPortRemoved(int comNumber);
    void OnPortEventsReady();
    void EnableDownload(bool enable);

    // The Download command (download_command.cpp).
    bool FillImageTable();
    bool AddBootImages(int* count);
    bool AddUsbImage(int bootImages, int* count);
    bool AddRowImage(Row row, int imageSetRow, int slot, const char* message, int* count);
    bool SetSlot(int slot, const char* path, const char* address, const char* message);
    void RunDownloadSession();
    void StopAllChannels();
    void ShowProgress(const void* payload);
    void ShowChannelText(const void* payload);
    void PushStatusLog();

    // Image sets (image_set_files.cpp).
    bool SaveAsRowsValid();

    // Row selection (image_rows.cpp).
    void CheckRow(Row row, bool ticked);
    void BrowseRow(Row row);
    void TakeChosenImage(Row row, const RowControls& c);
    void ShowRowState(const RowControls& c, int check);
    QString CrcText(const char* path);

    // The boot chain (boot_chain.cpp).
    std::optional<std::string> ChooseFolder(const char* title, const char* initialFolder);
    void CancelBootChoice();
    void TakeBootLoader();
    bool TakeBootChain();
    bool ChainFilesPresent();
    bool ReadChainTrailers();
    void TakeUsbBoot();
    void ForgetBootFolder();
    void SetModemType(int modemType);

    // Members in the order of the window's data exchange.
    QComboBox* m_portCombo[kChannelCount] = {};
    TextProgressCtrl* m_progress[kChannelCount] = {};
    int m_busy = 0;
    int m_channelPort[kChannelCount] = {};
    uint32_t m_crcTable[256] = {};  // filled by the CRC operations of the row handlers

    QCheckBox* m_bootChangeCheck = nullptr;
    QRadioButton* m_modemType2Radio = nullptr;
    QRadioButton* m_modemType1Radio = nullptr;
    QLineEdit* m_fotaFullPathEdit = nullptr;
    QLineEdit* m_rsrc2FullPathEdit = nullptr;
    QLineEdit* m_factoryFsFullPathEdit = nullptr;
    QLineEdit* m_rsrc1FullPathEdit = nullptr;
    QLineEdit* m_modemFullPathEdit = nullptr;
    QLineEdit* m_usbFullPathEdit = nullptr;
    QLineEdit* m_bootFullPathEdit = nullptr;
    QLineEdit* m_rsrc1KindEdit = nullptr;
    QLineEdit* m_modemKindEdit = nullptr;
    QLineEdit* m_rsrc2KindEdit = nullptr;
    QLineEdit* m_usbKindEdit = nullptr;
    QLineEdit* m_fotaKindEdit = nullptr;
    QLineEdit* m_factoryFsKindEdit = nullptr;
    QLineEdit* m_bootKindEdit = nullptr;
    QCheckBox* m_fullBinaryCheck = nullptr;
    QLineEdit* m_binaryFolderEdit = nullptr;
    QPlainTextEdit* m_statusLogEdit = nullptr;
    QLineEdit* m_fotaPathEdit = nullptr;
    QLineEdit* m_factoryFsPathEdit = nullptr;
    QLineEdit* m_rsrc2PathEdit = nullptr;
    QLineEdit* m_usbPathEdit = nullptr;
    QLineEdit* m_rsrc1PathEdit = nullptr;
    QLineEdit* m_modemPathEdit = nullptr;
    QLineEdit* m_bootPathEdit = nullptr;
    QCheckBox* m_emergencyCheck = nullptr;
    QCheckBox* m_autoCheck = nullptr;
    QLabel* m_statusText = nullptr;
    QPushButton* m_saveAsButton = nullptr;
    QPushButton* m_loadButton = nullptr;
    QCheckBox* m_crcCheck = nullptr;
    QCheckBox* m_bootCheck = nullptr;
    QPushButton* m_bootButton = nullptr;
    QCheckBox* m_usbCheck = nullptr;
    QPushButton* m_usbButton = nullptr;
    QCheckBox* m_modemCheck = nullptr;
    QPushButton* m_modemButton = nullptr;
    QCheckBox* m_rsrc1Check = nullptr;
    QPushButton* m_rsrc1Button = nullptr;
    QCheckBox* m_rsrc2Check = nullptr;
    QPushButton* m_rsrc2Button = nullptr;
    QCheckBox* m_factoryFsCheck = nullptr;
    QPushButton* m_factoryFsButton = nullptr;
    QCheckBox* m_fotaCheck = nullptr;
    QPushButton* m_fotaButton = nullptr;
    QPushButton* m_downloadButton = nullptr;
    QLineEdit* m_imageSetPathEdit = nullptr;
    NoTypingEdit* m_bootAddressEdit = nullptr;
    HexAddressEdit* m_usbAddressEdit = nullptr;
    HexAddressEdit* m_modemAddressEdit = nullptr;
    HexAddressEdit* m_rsrc1AddressEdit = nullptr;
    HexAddressEdit* m_rsrc2AddressEdit = nullptr;
    HexAddressEdit* m_factoryFsAddressEdit = nullptr;
    HexAddressEdit* m_fotaAddressEdit = nullptr;
    HexAddressEdit* m_crcEdit[kRowCount] = {};
    std::string m_statusLog;
    QIcon m_hIcon;

    // Unbound controls that have handlers.
    QPushButton* m_portSearchButton = nullptr;

    // What the dialog works through.
    DialogServices m_services;
    std::unique_ptr<platform::OperatorPrompt> m_ownPrompt;
    QSocketNotifier* m_portNotifier = nullptr;
    // The ports the last search or arrival named, for the combo tooltips.
    std::map<int, platform::SerialPortInfo> m_knownPorts;

    // True from the start of the session runner until it returned; unlike
    // m_busy, which a port removal clears, it holds for the whole session.
    bool m_sessionRunning = false;
    bool m_closePending = false;  // the operator closed the window during a download
    bool m_tornDown = false;
    config::ImageSetBaseline m_shownImageSet;  // the image set as last loaded into the rows
};
