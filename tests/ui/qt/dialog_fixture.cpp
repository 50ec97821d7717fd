#include "tests/ui/qt/dialog_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "config/settings.h"
#include "controls/qt/text_progress_ctrl.h"
#include "engine/image.h"
#include "engine/session.h"
#include "platform/ini.h"

namespace uitest {

void RecordingPrompt::ShowText(const char* text) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts.emplace_back(text);
    }
    if (onShow) onShow(text);
}

bool RecordingPrompt::AskYesNo(const char* text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts.emplace_back(text);
    return yes_;
}

void RecordingPrompt::AnswerYes(bool yes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    yes_ = yes;
}

std::vector<std::string> RecordingPrompt::Texts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts;
}

void RecordingPrompt::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts.clear();
}

std::optional<std::string> FakeFileDialogs::ChooseToLoad(QWidget*, const std::string& initialFile) {
    loadsOpenedAt.push_back(initialFile);
    return answer;
}

std::optional<std::string> FakeFileDialogs::ChooseToSave(QWidget*, const std::string& initialFile) {
    savesOpenedAt.push_back(initialFile);
    return answer;
}

std::optional<std::string> FakeFileDialogs::ChooseImageFile(QWidget*, const char* filter,
                                                            const char* defaultSuffix) {
    imageDialogs.emplace_back(filter, defaultSuffix);
    return answer;
}

platform::SerialPortInfo Port(const std::string& name, int comNumber) {
    return {name, comNumber, "/dev/fake" + std::to_string(comNumber)};
}

platform::PortEvent Arrival(int comNumber, const std::string& name) {
    return {platform::PortEvent::Kind::kArrival, Port(name, comNumber)};
}

platform::PortEvent Removal(int comNumber) {
    return {platform::PortEvent::Kind::kRemoval, Port("", comNumber)};
}

std::vector<uint8_t> MakeImage(const std::string& path, uint32_t address, size_t size,
                               const char* kind, const char* type, unsigned seed) {
    std::vector<uint8_t> data(size);
    std::mt19937 random(seed);
    for (uint8_t& byte : data)
        byte = static_cast<uint8_t>(random());
    ImageTrailer trailer{};
    trailer.magic = kTrailerMagic;
    trailer.address = address;
    std::strncpy(trailer.kind, kind, sizeof trailer.kind - 1);
    std::strncpy(trailer.type, type, sizeof trailer.type - 1);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    out.write(reinterpret_cast<const char*>(&trailer), sizeof trailer);
    EXPECT_TRUE(out.good()) << path;
    return data;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    EXPECT_TRUE(out.good()) << path;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void PrintTo(const RowShown& row, std::ostream* out) {
    *out << "{" << (row.ticked ? "ticked" : "unticked") << ", "
         << (row.usable ? "usable" : "disabled") << ", kind \"" << row.kind << "\", address \""
         << row.address << "\", crc \"" << row.crc << "\"}";
}

void WriteVarko(const std::string& file, const Keys& keys) {
    std::ofstream out(file, std::ios::trunc);
    out << "[VARKO]\n";
    for (const auto& [key, value] : keys)
        out << key << "=" << value << "\n";
    EXPECT_TRUE(out.good()) << file;
}

std::string StoredValue(const std::string& file, const std::string& key) {
    char value[1024];
    platform::IniReadString("VARKO", key.c_str(), "<missing>", value, sizeof value, file.c_str());
    return value;
}

void DialogTest::SetUp() {
    previousDir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    VARKO_ClearImages();
}

void DialogTest::TearDown() {
    dialog_.reset();
    platform::SetOperatorPrompt(nullptr);
    std::filesystem::current_path(previousDir_);
}

DownloaderDialog& DialogTest::MakeDialog() {
    dialog_.reset();
    auto ports = std::make_unique<FakePortSource>();
    ports->ports = portList_;
    auto events = std::make_unique<FakePortEvents>();
    auto files = std::make_unique<FakeFileDialogs>();
    ports_ = ports.get();
    events_ = events.get();
    files_ = files.get();
    DialogServices services;
    if (!systemPorts_) services.ports = std::move(ports);
    services.portEvents = std::move(events);
    services.fileDialogs = std::move(files);
    services.prompt = &prompt_;
    services.ask = ask_;
    dialog_ = std::make_unique<DownloaderDialog>(std::move(services));
    return *dialog_;
}

QString DialogTest::ProgressText(int channel) const {
    const auto* bar =
        dialog_->findChild<TextProgressCtrl*>(QStringLiteral("m_progress%1").arg(channel));
    return bar != nullptr ? bar->WindowText() : QStringLiteral("<no bar>");
}

QString DialogTest::ComboText(int channel) const {
    const auto* combo =
        dialog_->findChild<QComboBox*>(QStringLiteral("m_portCombo%1").arg(channel));
    return combo != nullptr ? combo->currentText() : QStringLiteral("<no combo>");
}

bool DialogTest::DownloadEnabled() const {
    return dialog_->findChild<QPushButton*>(QStringLiteral("m_downloadButton"))->isEnabled();
}

RowShown DialogTest::Shown(const std::string& row) const {
    static const char* const kRows[] = {"boot",  "usb",       "modem", "rsrc1",
                                        "rsrc2", "factoryFs", "fota"};
    const auto at = std::find(std::begin(kRows), std::end(kRows), row);
    const QString prefix = QStringLiteral("m_") + QString::fromStdString(row);
    const auto* check = Find<QCheckBox>(prefix + QStringLiteral("Check"));
    const auto text = [this](const QString& name) {
        const auto* edit = Find<QLineEdit>(name);
        return edit != nullptr ? edit->text().toStdString() : std::string("<no edit>");
    };
    if (check == nullptr || at == std::end(kRows)) return {};
    return {check->isChecked(), check->isEnabled(), text(prefix + QStringLiteral("KindEdit")),
            text(prefix + QStringLiteral("AddressEdit")),
            text(QStringLiteral("m_crcEdit%1").arg(at - std::begin(kRows)))};
}

QString DialogTest::StatusText() const {
    return dialog_->findChild<QLabel*>(QStringLiteral("m_statusText"))->text();
}

}  // namespace uitest
