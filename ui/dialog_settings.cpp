// The settings and the image set moved into the controls and back.
#include <algorithm>

#include "config/image_set.h"
#include "config/settings.h"
#include "platform/notify.h"
#include "ui/downloader_core.h"
#include "ui/field_text.h"
#include "ui/row_values.h"

namespace ui {

// The files are read into the process-wide settings and image set, which
// start from the core's copies once there are any (a value a file leaves out
// keeps what the window had), and taken over from there.
void DownloaderCore::ReadFiles(const char* imageSetPath, config::ReadProblems* problems) {
    if (m_filesRead) PublishModel();
    ReadSettings(imageSetPath, problems);
    m_settings = g_settings;
    m_imageSet = g_imageSet;
    m_filesRead = true;
}

// True when everything meant to be written was.
bool DownloaderCore::WriteFiles(const config::ImageSetBaseline* baseline) {
    PublishModel();
    bool written = false;
    WriteSettings(&written, baseline);
    return written;
}

void DownloaderCore::PublishModel() const {
    g_settings = m_settings;
    g_imageSet = m_imageSet;
}

void DownloaderCore::LoadSettingsToControls(const char* imageSetPath) {
    config::ReadProblems problems;
    ReadFiles(imageSetPath, &problems);
    SetText(Control::kImageSetPathEdit, FieldBytes(m_settings.VARKOFILE));
    LoadPortsFromSettings();
    CheckModemTypeRadios(m_imageSet.MTY);
    LoadBootRow();
    LoadUsbRow();
    LoadRow(kModemRow, kRowCode);
    LoadRow(kRsrc1Row, kRowFont);
    LoadRow(kRsrc2Row, kRowData);
    LoadRow(kFactoryFsRow, kRowEtc1);
    LoadFotaRow();
    // What the rows show now is what a close keeps unless the operator
    // changes it.
    ImageSet shown = m_imageSet;
    CopyAddressEdits(&shown);
    m_shownImageSet.Remember(m_settings.VARKOFILE, shown);
    const std::string report = LoadReport(problems, m_imageSet);
    if (!report.empty()) platform::ShowMessage(report.c_str());
}

void DownloaderCore::LoadPortsFromSettings() {
    const bool automatic = m_settings.AUTODETECT != 0;
    SetChecked(Control::kAutoCheck, automatic);
    if (automatic) {
        for (int ch = 0; ch < kChannelCount; ++ch) {
            m_channelPort[ch] = 0;
            SelectPortEntry(ch, 0);
        }
    } else {
        HoldStoredPorts();
    }
    // Download is offered when there is a channel to run it on.
    EnableDownload(!automatic && AnyChannelHasPort());
}

void DownloaderCore::HoldStoredPorts() {
    std::fill(std::begin(m_channelPort), std::end(m_channelPort), 0);
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const int stored = m_settings.CH_PORT[ch];
        // A port stored for two channels goes to the first only.
        m_channelPort[ch] = AnyChannelHolds(stored) ? 0 : stored;
        SelectPortEntry(ch, m_channelPort[ch]);
        m_view.SetPortEnabled(ch, true);
    }
}

void DownloaderCore::CheckModemTypeRadios(int modemType) {
    SetChecked(Control::kModemType1Radio, modemType == kModemTypeBootLoader);
    SetChecked(Control::kModemType2Radio, modemType == kModemTypeBootChain);
}

void DownloaderCore::ClearRowAddressAndKind(const RowControls& row) {
    SetEnabled(row.address, false);
    SetText(row.address, {});
    SetChecked(row.check, false);
    SetText(row.kind, {});
}

void DownloaderCore::LoadBootRow() {
    const ImageSet& set = m_imageSet;
    if (set.BOOTCHECK == 0) SetEnabled(Control::kBootAddressEdit, false);
    if (ShownPath(kBootRow).empty()) SetEnabled(Control::kBootCheck, false);
    SetText(Control::kBootPathEdit, AbbreviatedText(set.BOOTFILE));
    SetText(Control::kBootAddressEdit, FieldBytes(set.BOOTADDRESS));
    SetChecked(Control::kBootCheck, false);
    SetText(Control::kBootKindEdit, FieldBytes(set.BOOTKIND));
    if (ShownPath(kBootRow).empty()) ClearRowAddressAndKind(ControlsOf(kBootRow));
}

void DownloaderCore::LoadUsbRow() {
    const ImageSet& set = m_imageSet;
    SetEnabled(Control::kUsbAddressEdit, false);
    SetChecked(Control::kUsbCheck, false);
    SetText(Control::kUsbKindEdit, FieldBytes(set.USBKIND));
    SetText(Control::kUsbPathEdit, AbbreviatedText(set.USBFILE));
    SetText(Control::kUsbAddressEdit, FieldBytes(set.USBADDRESS));
    if (ShownPath(kUsbRow).empty()) ClearRowAddressAndKind(ControlsOf(kUsbRow));
    SetEnabled(Control::kUsbCheck, false);
}

void DownloaderCore::LoadRow(Row row, int imageSetRow) {
    const ImageSetSlot& slot = m_imageSet.rows[imageSetRow];
    const RowControls c = ControlsOf(row);
    SetChecked(c.check, slot.check != 0);
    if (slot.check == 0) SetEnabled(c.address, false);
    SetText(c.kind, FieldBytes(slot.kind));
    SetText(c.path, AbbreviatedText(slot.file));
    SetText(c.address, FieldBytes(slot.address));
    if (ShownPath(row).empty()) {
        ClearRowAddressAndKind(c);
        SetEnabled(c.check, false);
    } else {
        SetEnabled(c.check, true);
    }
}

void DownloaderCore::LoadFotaRow() {
    const ImageSetSlot& slot = m_imageSet.rows[kRowEtc2];
    // A stored tick never checks the FOTA box: it has no download slot.
    if (slot.check == 0) {
        SetChecked(Control::kFotaCheck, false);
        SetEnabled(Control::kFotaAddressEdit, false);
    }
    SetText(Control::kFotaKindEdit, FieldBytes(slot.kind));
    SetText(Control::kFotaPathEdit, AbbreviatedText(slot.file));
    SetText(Control::kFotaAddressEdit, FieldBytes(slot.address));
    if (ShownPath(kFotaRow).empty()) {
        ClearRowAddressAndKind(ControlsOf(kFotaRow));
        SetEnabled(Control::kFotaCheck, false);
    } else {
        SetEnabled(Control::kFotaCheck, true);
    }
}

void DownloaderCore::CopyAddressEdits(ImageSet* set) const {
    CopyToField(Text(Control::kBootAddressEdit), set->BOOTADDRESS);
    CopyToField(Text(Control::kUsbAddressEdit), set->USBADDRESS);
    CopyToField(Text(Control::kModemAddressEdit), set->rows[kRowCode].address);
    CopyToField(Text(Control::kRsrc2AddressEdit), set->rows[kRowData].address);
    CopyToField(Text(Control::kRsrc1AddressEdit), set->rows[kRowFont].address);
    CopyToField(Text(Control::kFactoryFsAddressEdit), set->rows[kRowEtc1].address);
    CopyToField(Text(Control::kFotaAddressEdit), set->rows[kRowEtc2].address);
}

void DownloaderCore::CopyControlsToSettings() {
    std::copy(std::begin(m_channelPort), std::end(m_channelPort), m_settings.CH_PORT);
    CopyToField(Text(Control::kImageSetPathEdit), m_settings.VARKOFILE);
    CopyAddressEdits(&m_imageSet);
}

int DownloaderCore::SaveControlsToSettings() {
    CopyControlsToSettings();
    PublishModel();
    return WriteSettings();
}

}  // namespace ui
