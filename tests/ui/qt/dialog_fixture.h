// Helpers for the window's tests: a start directory with prepared settings
// and image sets, image files with trailers, and stand-ins for what the
// dialog works through (the operator prompt, the serial-port list, port
// events and the file dialogs of Load and Save As).
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/notify.h"
#include "platform/serial_ports.h"
#include "tests/support/pty_peer.h"
#include "ui/qt/downloader_dialog.h"
#include "ui/qt/image_set_dialogs.h"

namespace uitest {

// Records every text; called from worker threads too. Questions are
// answered as yes_ says (No unless set).
class RecordingPrompt : public platform::OperatorPrompt {
public:
    void ShowText(const char* text) override;
    bool AskYesNo(const char* text) override;
    std::vector<std::string> Texts() const;
    void Clear();
    void AnswerYes(bool yes);
    // Called on the caller's thread with each message box text, while the
    // box would be open.
    std::function<void(const std::string&)> onShow;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
    bool yes_ = false;
};

class FakePortSource : public platform::SerialPortSource {
public:
    std::vector<platform::SerialPortInfo> List() override { return ports; }
    std::vector<platform::SerialPortInfo> ports;
};

// Hands each pushed event to the dialog's callback, as the system's source
// does from its own thread.
class FakePortEvents : public platform::PortEventSource {
public:
    void Start(platform::PortEventCallback callback) override { m_callback = std::move(callback); }
    void Push(const platform::PortEvent& event) {
        if (m_callback) m_callback(event);
    }

private:
    platform::PortEventCallback m_callback;
};

class FakeFileDialogs : public ImageSetFileDialogs {
public:
    std::optional<std::string> ChooseToLoad(QWidget*, const std::string& initialFile) override;
    std::optional<std::string> ChooseToSave(QWidget*, const std::string& initialFile) override;
    std::optional<std::string> ChooseImageFile(QWidget*, const char* filter,
                                               const char* defaultSuffix) override;

    std::optional<std::string> answer;  // the operator's choice; nothing = Cancel
    std::vector<std::string> loadsOpenedAt;
    std::vector<std::string> savesOpenedAt;
    // Filter and default suffix of every image file dialog.
    std::vector<std::pair<std::string, std::string>> imageDialogs;
};

platform::SerialPortInfo Port(const std::string& name, int comNumber);
platform::PortEvent Arrival(int comNumber, const std::string& name = "kvmodem-usb");
platform::PortEvent Removal(int comNumber);

// Writes size bytes of pseudo-random data followed by a trailer naming
// address, kind and type; returns the data (what reaches the flash).
std::vector<uint8_t> MakeImage(const std::string& path, uint32_t address, size_t size,
                               const char* kind, const char* type, unsigned seed = 1);

// Writes bytes into path, replacing it; reads a whole file back.
void WriteBytes(const std::string& path, const std::string& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// What an image row shows: its check box ticked and usable, its kind,
// address and CRC texts.
struct RowShown {
    bool ticked = false;
    bool usable = false;
    std::string kind;
    std::string address;
    std::string crc;
    bool operator==(const RowShown&) const = default;
};
void PrintTo(const RowShown& row, std::ostream* out);

using Keys = std::vector<std::pair<std::string, std::string>>;
// Writes keys into section VARKO of file, replacing the file.
void WriteVarko(const std::string& file, const Keys& keys);
// The value of key in section VARKO, or "<missing>".
std::string StoredValue(const std::string& file, const std::string& key);

// A start directory in a fresh temporary folder (the current directory
// while the test runs) and a dialog made on it with the stand-ins.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string File(const std::string& name) const { return dir_.File(name); }
    // Settings file and default image set in the start directory. A dialog
    // still open is closed first: its teardown writes both files.
    void WriteSettingsFile(const Keys& keys) {
        DestroyDialog();
        WriteVarko(File("Kelvane_3.ini"), keys);
    }
    void WriteImageSetFile(const Keys& keys) {
        DestroyDialog();
        WriteVarko(File("default_3.vrk"), keys);
    }

    // The dialog, initialised from the start directory; the port list is
    // taken from portList_ as it stands.
    DownloaderDialog& MakeDialog();
    void DestroyDialog() { dialog_.reset(); }

    template <typename T>
    T* Find(const QString& name) const {
        T* widget = dialog_->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << "no control " << name.toStdString();
        return widget;
    }
    QString ProgressText(int channel) const;
    QString ComboText(int channel) const;
    bool DownloadEnabled() const;
    QString StatusText() const;
    // Row by member prefix: "boot", "usb", "modem", "rsrc1", "rsrc2",
    // "factoryFs" or "fota".
    RowShown Shown(const std::string& row) const;

    testing_support::TempDir dir_;
    std::filesystem::path previousDir_;
    RecordingPrompt prompt_;
    std::vector<platform::SerialPortInfo> portList_;
    bool systemPorts_ = false;  // the platform's own port list instead of portList_
    // The operator's answer to the window's questions (a message box when empty).
    std::function<ui::DialogView::Answer(const std::string&, bool)> ask_;
    FakePortSource* ports_ = nullptr;
    FakePortEvents* events_ = nullptr;
    FakeFileDialogs* files_ = nullptr;
    std::unique_ptr<DownloaderDialog> dialog_;
};

}  // namespace uitest
