// The settings and the image set moved into the controls and back.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "config/image_set.h"
#include "config/settings.h"
#include "platform/notify.h"
#include "ui/address_edits.h"
#include "ui/downloader_dialog.h"
#include "ui/field_text.h"
#include "ui/row_values.h"

void DownloaderDialog::LoadSettingsToControls(const char* imageSetPath) {
    config::ReadProblems problems;
    ReadSettings(imageSetPath, &problems);
    m_imageSetPathEdit->setText(FieldText(g_settings.VARKOFILE));
    LoadPortsFromSettings();
    CheckModemTypeRadios(g_imageSet.MTY);
    LoadBootRow();
    LoadUsbRow();
    LoadRow(kModemRow, kRowCode);
    LoadRow(kRsrc1Row, kRowFont);
    LoadRow(kRsrc2Row, kRowData);
    LoadRow(kFactoryFsRow, kRowEtc1);
    LoadFotaRow();
    // What the rows show now is what a close keeps unless the operator
    // changes it.
    ImageSet shown = g_imageSet;
    CopyAddressEdits(&shown);
    m_shownImageSet.Remember(g_settings.VARKOFILE, shown);
    const std::string report = LoadReport(problems, g_imageSet);
    if (!report.empty()) platform::ShowMessage(report.c_str());
}

void DownloaderDialog::LoadPortsFromSettings() {
    const bool automatic = g_settings.AUTODETECT != 0;
    m_autoCheck->setChecked(automatic);
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

void DownloaderDialog::HoldStoredPorts() {
    std::fill(std::begin(m_channelPort), std::end(m_channelPort), 0);
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const int stored = g_settings.CH_PORT[ch];
        // A port stored for two channels goes to the first only.
        m_channelPort[ch] = AnyChannelHolds(stored) ? 0 : stored;
        SelectPortEntry(ch, m_channelPort[ch]);
        m_portCombo[ch]->setEnabled(true);
    }
}

void DownloaderDialog::CheckModemTypeRadios(int modemType) {
    // The two radios are exclusive when clicked; "neither" needs the
    // exclusion lifted for a moment.
    for (QRadioButton* radio : {m_modemType1Radio, m_modemType2Radio})
        radio->setAutoExclusive(false);
    m_modemType1Radio->setChecked(modemType == kModemTypeBootLoader);
    m_modemType2Radio->setChecked(modemType == kModemTypeBootChain);
    for (QRadioButton* radio : {m_modemType1Radio, m_modemType2Radio})
        radio->setAutoExclusive(true);
}

void DownloaderDialog::ClearRowAddressAndKind(const RowControls& row) {
    row.address->setEnabled(false);
    row.address->clear();
    row.check->setChecked(false);
    row.kind->clear();
}

void DownloaderDialog::LoadBootRow() {
    const ImageSet& set = g_imageSet;
    if (set.BOOTCHECK == 0) m_bootAddressEdit->setEnabled(false);
    if (m_bootPathEdit->text().isEmpty()) m_bootCheck->setEnabled(false);
    m_bootPathEdit->setText(AbbreviatedText(set.BOOTFILE));
    m_bootAddressEdit->setText(FieldText(set.BOOTADDRESS));
    m_bootCheck->setChecked(false);
    m_bootKindEdit->setText(FieldText(set.BOOTKIND));
    if (m_bootPathEdit->text().isEmpty()) ClearRowAddressAndKind(Controls(kBootRow));
}

void DownloaderDialog::LoadUsbRow() {
    const ImageSet& set = g_imageSet;
    m_usbAddressEdit->setEnabled(false);
    m_usbCheck->setChecked(false);
    m_usbKindEdit->setText(FieldText(set.USBKIND));
    m_usbPathEdit->setText(AbbreviatedText(set.USBFILE));
    m_usbAddressEdit->setText(FieldText(set.USBADDRESS));
    if (m_usbPathEdit->text().isEmpty()) ClearRowAddressAndKind(Controls(kUsbRow));
    m_usbCheck->setEnabled(false);
}

void DownloaderDialog::LoadRow(Row row, int imageSetRow) {
    const ImageSetSlot& slot = g_imageSet.rows[imageSetRow];
    const RowControls c = Controls(row);
    c.check->setChecked(slot.check != 0);
    if (slot.check == 0) c.address->setEnabled(false);
    c.kind->setText(FieldText(slot.kind));
    c.path->setText(AbbreviatedText(slot.file));
    c.address->setText(FieldText(slot.address));
    if (c.path->text().isEmpty()) {
        ClearRowAddressAndKind(c);
        c.check->setEnabled(false);
    } else {
        c.check->setEnabled(true);
    }
}

void DownloaderDialog::LoadFotaRow() {
    const ImageSetSlot& slot = g_imageSet.rows[kRowEtc2];
    // A stored tick never checks the FOTA box: it has no download slot.
    if (slot.check == 0) {
        m_fotaCheck->setChecked(false);
        m_fotaAddressEdit->setEnabled(false);
    }
    m_fotaKindEdit->setText(FieldText(slot.kind));
    m_fotaPathEdit->setText(AbbreviatedText(slot.file));
    m_fotaAddressEdit->setText(FieldText(slot.address));
    if (m_fotaPathEdit->text().isEmpty()) {
        ClearRowAddressAndKind(Controls(kFotaRow));
        m_fotaCheck->setEnabled(false);
    } else {
        m_fotaCheck->setEnabled(true);
    }
}

void DownloaderDialog::CopyAddressEdits(ImageSet* set) const {
    CopyToField(m_bootAddressEdit->text(), set->BOOTADDRESS);
    CopyToField(m_usbAddressEdit->text(), set->USBADDRESS);
    CopyToField(m_modemAddressEdit->text(), set->rows[kRowCode].address);
    CopyToField(m_rsrc2AddressEdit->text(), set->rows[kRowData].address);
    CopyToField(m_rsrc1AddressEdit->text(), set->rows[kRowFont].address);
    CopyToField(m_factoryFsAddressEdit->text(), set->rows[kRowEtc1].address);
    CopyToField(m_fotaAddressEdit->text(), set->rows[kRowEtc2].address);
}

void DownloaderDialog::CopyControlsToSettings() {
    std::copy(std::begin(m_channelPort), std::end(m_channelPort), g_settings.CH_PORT);
    CopyToField(m_imageSetPathEdit->text(), g_settings.VARKOFILE);
    CopyAddressEdits(&g_imageSet);
}

int DownloaderDialog::SaveControlsToSettings() {
    CopyControlsToSettings();
    return WriteSettings();
}
