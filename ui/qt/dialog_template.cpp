#include "ui/qt/dialog_template.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>

#include "controls/qt/text_progress_ctrl.h"
#include "ui/qt/address_edits.h"

namespace {

using C = ControlClass;

// The controls that have one fixed place.
const TemplateItem kFixedItems[] = {
    {C::kGroup, "fileGroup", " File ", {7, 6, 538, 40}},
    {C::kGroup, "controlGroup", " Control ", {7, 46, 403, 232}},
    {C::kGroup, "statusGroup", "Status", {412, 46, 133, 232}},
    {C::kGroup, "portGroup", " Port ", {7, 280, 538, 99}},
    {C::kGroup, "modemTypeGroup", "", {12, 52, 290, 44}},

    {C::kEdit, "m_imageSetPathEdit", "", {12, 20, 389, 15}},
    {C::kButton, "m_loadButton", "Load", {411, 18, 52, 19}},
    {C::kButton, "m_saveAsButton", "Save As", {473, 18, 52, 19}},

    {C::kLabel, "modemTypeLabel", "Modem Type : ", {18, 68, 52, 10}},
    {C::kRadio, "m_modemType1Radio", "Platform 1 (single boot loader)", {74, 60, 222, 12}},
    {C::kRadio, "m_modemType2Radio", "Platform 2 (six-file boot chain)", {74, 77, 222, 12}},
    {C::kCheck, "m_bootChangeCheck", "Boot Change", {306, 53, 100, 10}},
    {C::kCheck, "m_crcCheck", "[*]Calculate CRC-32 ", {306, 63, 100, 10}},
    {C::kLabel, "addressLabel", "Address(Hex)", {306, 75, 50, 10}},
    {C::kLabel, "crcLabel", "CRC(hex)", {358, 75, 48, 10}},

    {C::kCheck, "m_fullBinaryCheck", "[Full Binary]", {10, 226, 60, 10}, kHidden},
    {C::kEdit, "m_binaryFolderEdit", "", {103, 224, 201, 14}, kHidden | kReadOnly},

    {C::kStatusLabel, "m_statusText", "", {10, 240, 161, 29}},
    {C::kButton, "m_portSearchButton", "Port Search", {223, 246, 65, 22}},
    {C::kButton, "m_downloadButton", "Download", {295, 239, 100, 30}},

    {C::kLogEdit, "m_statusLogEdit", "", {413, 57, 131, 218}, kReadOnly},

    {C::kCheck, "m_autoCheck", "A u t o", {14, 291, 40, 10}},
    {C::kCheck, "m_emergencyCheck", "Emergency Mode", {60, 291, 70, 10}, kHidden},
    {C::kCheck, "m_selectMapCheck", "Select Map", {140, 291, 55, 10}, kHidden},
    {C::kEditCombo, "m_selectMapCombo", "", {200, 289, 80, 14}, kHidden},
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
};

const RowPlace kRows[] = {
    {"boot", "Boot", 0, 100, kShown, kDisabled, kShown, true},
    {"usb", "Usb", 1, 287, kHidden, kDisabled, kShown, false},
    {"modem", "Modem", 2, 123, kShown, kShown, kShown, false},
    {"rsrc1", "Rsrc1", 3, 144, kShown, kShown, kShown, false},
    {"rsrc2", "Rsrc2", 4, 165, kShown, kShown, kShown, false},
    {"factoryFs", "FactoryFS", 5, 187, kShown, kShown, kShown, false},
    {"fota", "FOTA", 6, 208, kShown, kDisabled, kDisabled, false},
};

std::string Member(const char* prefix, const char* role) {
    return std::string("m_") + prefix + role;
}

void AddRow(const RowPlace& row, std::vector<TemplateItem>* items) {
    const int y = row.y;
    const unsigned s = row.rowStyle;
    const unsigned ro = s | kReadOnly;
    items->push_back({C::kButton,
                      Member(row.prefix, "Button"),
                      row.button,
                      {10, y, 45, 15},
                      s | row.buttonStyle});
    items->push_back(
        {C::kCheck, Member(row.prefix, "Check"), "", {57, y + 2, 10, 10}, s | row.checkStyle});
    items->push_back({C::kEdit, Member(row.prefix, "KindEdit"), "", {67, y, 35, 14}, ro});
    items->push_back({C::kEdit, Member(row.prefix, "PathEdit"), "", {103, y, 201, 14}, ro});
    items->push_back(
        {C::kEdit, Member(row.prefix, "FullPathEdit"), "", {103, y, 304, 14}, ro | kHidden});
    items->push_back({row.noTypingAddress ? C::kNoTypingEdit : C::kHexEdit,
                      Member(row.prefix, "AddressEdit"),
                      "",
                      {306, y, 48, 14},
                      ro});
    items->push_back(
        {C::kHexEdit, "m_crcEdit" + std::to_string(row.crcIndex), "", {358, y, 48, 14}, ro});
}

// Four lines of two channels: combo box, then its progress bar.
void AddChannels(std::vector<TemplateItem>* items) {
    const int lineY[] = {304, 322, 342, 360};
    for (int channel = 0; channel < 8; ++channel) {
        const int x = channel % 2 == 0 ? 28 : 271;
        const int y = lineY[channel / 2];
        const std::string n = std::to_string(channel);
        items->push_back({C::kCombo, "m_portCombo" + n, "", {x, y, 52, 13}});
        items->push_back({C::kProgress, "m_progress" + n, "", {x + 56, y, 170, 12}});
    }
}

QWidget* NewButtonLike(const TemplateItem& item) {
    const QString caption = QString::fromStdString(item.caption);
    switch (item.cls) {
        case C::kCheck:
            return new QCheckBox(caption);
        case C::kRadio:
            return new QRadioButton(caption);
        default: {
            auto* button = new QPushButton(caption);
            button->setAutoDefault(false);  // Enter presses no button
            return button;
        }
    }
}

QWidget* NewText(const TemplateItem& item) {
    auto* label = new QLabel(QString::fromStdString(item.caption));
    if (item.cls == C::kStatusLabel) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setWordWrap(true);
        label->setMargin(2);
    }
    return label;
}

QWidget* NewEdit(const TemplateItem& item) {
    switch (item.cls) {
        case C::kHexEdit:
            return new HexAddressEdit;
        case C::kNoTypingEdit:
            return new NoTypingEdit;
        case C::kLogEdit: {
            auto* log = new QPlainTextEdit;
            log->setReadOnly(true);
            return log;
        }
        default:
            return new QLineEdit;
    }
}

QWidget* NewCombo(const TemplateItem& item) {
    auto* combo = new QComboBox;
    combo->setEditable(item.cls == C::kEditCombo);
    combo->setMaxVisibleItems(16);
    return combo;
}

QWidget* NewWidget(const TemplateItem& item) {
    switch (item.cls) {
        case C::kGroup:
            return new QGroupBox(QString::fromStdString(item.caption));
        case C::kLabel:
        case C::kStatusLabel:
            return NewText(item);
        case C::kEdit:
        case C::kHexEdit:
        case C::kNoTypingEdit:
        case C::kLogEdit:
            return NewEdit(item);
        case C::kCheck:
        case C::kRadio:
        case C::kButton:
            return NewButtonLike(item);
        case C::kCombo:
        case C::kEditCombo:
            return NewCombo(item);
        case C::kProgress:
            return new TextProgressCtrl;
    }
    return new QWidget;
}

int Scale(int units, int base, int divisor) {
    return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
}

}  // namespace

std::vector<TemplateItem> DialogTemplate103() {
    std::vector<TemplateItem> items(std::begin(kFixedItems), std::end(kFixedItems));
    for (const RowPlace& row : kRows)
        AddRow(row, &items);
    AddChannels(&items);
    return items;
}

QFont DialogFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    return font;
}

QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters + 26) / 52, metrics.height()};
}

QRect DluToPixels(const QRect& dlu, QSize baseUnits) {
    // Edges are converted, not sizes: controls that meet in dialog units
    // meet in pixels, never overlap by a rounded pixel.
    const int bx = baseUnits.width();
    const int by = baseUnits.height();
    const int left = Scale(dlu.x(), bx, 4);
    const int top = Scale(dlu.y(), by, 8);
    const int right = Scale(dlu.x() + dlu.width(), bx, 4);
    const int bottom = Scale(dlu.y() + dlu.height(), by, 8);
    return {left, top, right - left, bottom - top};
}

QWidget* CreateControl(const TemplateItem& item, QSize baseUnits, QWidget* parent) {
    QWidget* widget = NewWidget(item);
    widget->setParent(parent);
    widget->setObjectName(QString::fromStdString(item.name));
    widget->setGeometry(DluToPixels(item.dlu, baseUnits));
    widget->setEnabled((item.style & kDisabled) == 0);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setReadOnly((item.style & kReadOnly) != 0);
    }
    if ((item.style & kHidden) != 0) widget->hide();
    return widget;
}
