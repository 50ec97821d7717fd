#include "ui/dialog_template.h"

#include "ui/dialog_ids.h"

namespace ui {

namespace {

using C = ControlClass;

// The controls that have one fixed place.
const TemplateItem kFixedItems[] = {
    {C::kGroup, IDC_STATIC, "fileGroup", " File ", {7, 6, 538, 40}},
    {C::kGroup, IDC_STATIC, "controlGroup", " Control ", {7, 46, 403, 232}},
    {C::kGroup, IDC_STATIC, "statusGroup", "Status", {412, 46, 133, 232}},
    {C::kGroup, IDC_STATIC, "portGroup", " Port ", {7, 280, 538, 99}},
    {C::kGroup, IDC_STATIC, "modemTypeGroup", "", {12, 52, 290, 44}},

    {C::kEdit, IDC_IMAGE_SET_PATH_EDIT, "m_imageSetPathEdit", "", {12, 20, 389, 15}},
    {C::kButton, IDC_LOAD_BUTTON, "m_loadButton", "Load", {411, 18, 52, 19}},
    {C::kButton, IDC_SAVE_AS_BUTTON, "m_saveAsButton", "Save As", {473, 18, 52, 19}},

    {C::kLabel, IDC_STATIC, "modemTypeLabel", "Modem Type : ", {18, 68, 52, 10}},
    {C::kRadio,
     IDC_MODEM_TYPE1_RADIO,
     "m_modemType1Radio",
     "Platform 1 (single boot loader)",
     {74, 60, 222, 12}},
    {C::kRadio,
     IDC_MODEM_TYPE2_RADIO,
     "m_modemType2Radio",
     "Platform 2 (six-file boot chain)",
     {74, 77, 222, 12}},
    {C::kCheck, IDC_BOOT_CHANGE_CHECK, "m_bootChangeCheck", "Boot Change", {306, 53, 100, 10}},
    {C::kCheck, IDC_CRC_CHECK, "m_crcCheck", "[*]Calculate CRC-32 ", {306, 63, 100, 10}},
    {C::kLabel, IDC_STATIC, "addressLabel", "Address(Hex)", {306, 75, 50, 10}},
    {C::kLabel, IDC_STATIC, "crcLabel", "CRC(hex)", {358, 75, 48, 10}},

    {C::kCheck,
     IDC_FULL_BINARY_CHECK,
     "m_fullBinaryCheck",
     "[Full Binary]",
     {10, 226, 60, 10},
     kHidden},
    {C::kEdit,
     IDC_BINARY_FOLDER_EDIT,
     "m_binaryFolderEdit",
     "",
     {103, 224, 201, 14},
     kHidden | kReadOnly},

    {C::kStatusLabel, IDC_STATUS_TEXT, "m_statusText", "", {10, 240, 161, 29}},
    {C::kButton, IDC_PORT_SEARCH_BUTTON, "m_portSearchButton", "Port Search", {223, 246, 65, 22}},
    {C::kButton,
     IDC_DOWNLOAD_BUTTON,
     "m_downloadButton",
     "Download",
     {295, 239, 100, 30},
     kDefaultButton},
    // Station mode: its box just above Download, its counts below the ports.
    {C::kCheck, IDC_STATION_CHECK, "m_stationCheck", "Station", {345, 226, 50, 10}},
    {C::kLabel, IDC_STATION_COUNTS_TEXT, "m_stationCountsText", "", {12, 381, 530, 8}},

    {C::kLogEdit, IDC_STATUS_LOG_EDIT, "m_statusLogEdit", "", {413, 57, 131, 218}, kReadOnly},

    {C::kCheck, IDC_AUTO_CHECK, "m_autoCheck", "A u t o", {14, 291, 40, 10}},
    {C::kCheck,
     IDC_EMERGENCY_CHECK,
     "m_emergencyCheck",
     "Emergency Mode",
     {60, 291, 70, 10},
     kHidden},
    {C::kCheck,
     IDC_SELECT_MAP_CHECK,
     "m_selectMapCheck",
     "Select Map",
     {140, 291, 55, 10},
     kHidden},
    {C::kEditCombo, IDC_SELECT_MAP_COMBO, "m_selectMapCombo", "", {200, 289, 80, 14}, kHidden},
};

// The identifiers of one row's controls.
struct RowIds {
    int button;
    int check;
    int kind;
    int path;
    int fullPath;
    int address;
    int crc;
};

// One row of the image table: its controls share a line and a naming scheme.
struct RowPlace {
    const char* prefix;  // "boot" gives m_bootCheck, m_bootButton, ...
    const char* button;
    int crcIndex;  // m_crcEdit<crcIndex>
    int y;
    unsigned rowStyle;     // applied to every control of the row
    unsigned buttonStyle;  // added for the button
    unsigned checkStyle;   // added for the check box
    bool noTypingAddress;  // the Boot row's address takes no typing at all
    RowIds ids;
};

const RowPlace kRows[] = {
    {"boot",
     "Boot",
     0,
     100,
     kShown,
     kDisabled,
     kShown,
     true,
     {IDC_BOOT_BUTTON, IDC_BOOT_CHECK, IDC_BOOT_KIND_EDIT, IDC_BOOT_PATH_EDIT,
      IDC_BOOT_FULL_PATH_EDIT, IDC_BOOT_ADDRESS_EDIT, IDC_CRC_EDIT0}},
    {"usb",
     "Usb",
     1,
     287,
     kHidden,
     kDisabled,
     kShown,
     false,
     {IDC_USB_BUTTON, IDC_USB_CHECK, IDC_USB_KIND_EDIT, IDC_USB_PATH_EDIT, IDC_USB_FULL_PATH_EDIT,
      IDC_USB_ADDRESS_EDIT, IDC_CRC_EDIT1}},
    {"modem",
     "Modem",
     2,
     123,
     kShown,
     kShown,
     kShown,
     false,
     {IDC_MODEM_BUTTON, IDC_MODEM_CHECK, IDC_MODEM_KIND_EDIT, IDC_MODEM_PATH_EDIT,
      IDC_MODEM_FULL_PATH_EDIT, IDC_MODEM_ADDRESS_EDIT, IDC_CRC_EDIT2}},
    {"rsrc1",
     "Rsrc1",
     3,
     144,
     kShown,
     kShown,
     kShown,
     false,
     {IDC_RSRC1_BUTTON, IDC_RSRC1_CHECK, IDC_RSRC1_KIND_EDIT, IDC_RSRC1_PATH_EDIT,
      IDC_RSRC1_FULL_PATH_EDIT, IDC_RSRC1_ADDRESS_EDIT, IDC_CRC_EDIT3}},
    {"rsrc2",
     "Rsrc2",
     4,
     165,
     kShown,
     kShown,
     kShown,
     false,
     {IDC_RSRC2_BUTTON, IDC_RSRC2_CHECK, IDC_RSRC2_KIND_EDIT, IDC_RSRC2_PATH_EDIT,
      IDC_RSRC2_FULL_PATH_EDIT, IDC_RSRC2_ADDRESS_EDIT, IDC_CRC_EDIT4}},
    {"factoryFs",
     "FactoryFS",
     5,
     187,
     kShown,
     kShown,
     kShown,
     false,
     {IDC_FACTORY_FS_BUTTON, IDC_FACTORY_FS_CHECK, IDC_FACTORY_FS_KIND_EDIT,
      IDC_FACTORY_FS_PATH_EDIT, IDC_FACTORY_FS_FULL_PATH_EDIT, IDC_FACTORY_FS_ADDRESS_EDIT,
      IDC_CRC_EDIT5}},
    {"fota",
     "FOTA",
     6,
     208,
     kShown,
     kDisabled,
     kDisabled,
     false,
     {IDC_FOTA_BUTTON, IDC_FOTA_CHECK, IDC_FOTA_KIND_EDIT, IDC_FOTA_PATH_EDIT,
      IDC_FOTA_FULL_PATH_EDIT, IDC_FOTA_ADDRESS_EDIT, IDC_CRC_EDIT6}},
};

// The channels' combo boxes and bars, CH0..CH7.
const int kPortComboIds[] = {IDC_PORT_COMBO0, IDC_PORT_COMBO1, IDC_PORT_COMBO2, IDC_PORT_COMBO3,
                             IDC_PORT_COMBO4, IDC_PORT_COMBO5, IDC_PORT_COMBO6, IDC_PORT_COMBO7};
const int kProgressIds[] = {IDC_PROGRESS0, IDC_PROGRESS1, IDC_PROGRESS2, IDC_PROGRESS3,
                            IDC_PROGRESS4, IDC_PROGRESS5, IDC_PROGRESS6, IDC_PROGRESS7};

std::string Member(const char* prefix, const char* role) {
    return std::string("m_") + prefix + role;
}

void AddRow(const RowPlace& row, std::vector<TemplateItem>* items) {
    const int y = row.y;
    const unsigned s = row.rowStyle;
    const unsigned ro = s | kReadOnly;
    const RowIds& id = row.ids;
    items->push_back({C::kButton,
                      id.button,
                      Member(row.prefix, "Button"),
                      row.button,
                      {10, y, 45, 15},
                      s | row.buttonStyle});
    items->push_back({C::kCheck,
                      id.check,
                      Member(row.prefix, "Check"),
                      "",
                      {57, y + 2, 10, 10},
                      s | row.checkStyle});
    items->push_back({C::kEdit, id.kind, Member(row.prefix, "KindEdit"), "", {67, y, 35, 14}, ro});
    items->push_back(
        {C::kEdit, id.path, Member(row.prefix, "PathEdit"), "", {103, y, 201, 14}, ro});
    items->push_back({C::kEdit,
                      id.fullPath,
                      Member(row.prefix, "FullPathEdit"),
                      "",
                      {103, y, 304, 14},
                      ro | kHidden});
    items->push_back({row.noTypingAddress ? C::kNoTypingEdit : C::kHexEdit,
                      id.address,
                      Member(row.prefix, "AddressEdit"),
                      "",
                      {306, y, 48, 14},
                      ro});
    items->push_back({C::kHexEdit,
                      id.crc,
                      "m_crcEdit" + std::to_string(row.crcIndex),
                      "",
                      {358, y, 48, 14},
                      ro});
}

// Four lines of two channels: combo box, then its progress bar.
void AddChannels(std::vector<TemplateItem>* items) {
    const int lineY[] = {304, 322, 342, 360};
    for (int channel = 0; channel < 8; ++channel) {
        const int x = channel % 2 == 0 ? 28 : 271;
        const int y = lineY[channel / 2];
        const std::string n = std::to_string(channel);
        items->push_back(
            {C::kCombo, kPortComboIds[channel], "m_portCombo" + n, "", {x, y, 52, 13}});
        items->push_back(
            {C::kProgress, kProgressIds[channel], "m_progress" + n, "", {x + 56, y, 170, 12}});
    }
}

}  // namespace

std::vector<TemplateItem> DialogTemplate103() {
    std::vector<TemplateItem> items(std::begin(kFixedItems), std::end(kFixedItems));
    for (const RowPlace& row : kRows)
        AddRow(row, &items);
    AddChannels(&items);
    return items;
}

const TemplateItem* FindTemplateItem(const std::vector<TemplateItem>& items,
                                     const std::string& name) {
    for (const TemplateItem& item : items) {
        if (item.name == name) return &item;
    }
    return nullptr;
}

}  // namespace ui
