// Dialog template 103: every control of the main dialog with its object name,
// caption, state and place in dialog units, and how dialog units become
// pixels for the dialog's font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <string>
#include <vector>

class QWidget;

enum class ControlClass {
    kGroup,        // group box
    kLabel,        // static text
    kStatusLabel,  // bordered static text
    kEdit,
    kHexEdit,       // HexAddressEdit
    kNoTypingEdit,  // NoTypingEdit
    kLogEdit,       // multi-line, read-only
    kCheck,
    kRadio,
    kButton,
    kCombo,      // drop-down list
    kEditCombo,  // drop-down with an edit field
    kProgress,   // TextProgressCtrl
};

enum ControlStyle : unsigned {
    kShown = 0,
    kHidden = 1u << 0,
    kDisabled = 1u << 1,
    kReadOnly = 1u << 2,
};

struct TemplateItem {
    ControlClass cls;
    std::string name;  // object name: the dialog's member name for bound controls
    std::string caption;
    QRect dlu;  // x, y, width, height in dialog units
    unsigned style = kShown;
};

// The dialog measures 550 x 390 dialog units.
inline constexpr int kTemplateWidth = 550;
inline constexpr int kTemplateHeight = 390;

// The controls in creation order: group boxes first, so that they lie below
// the controls they frame.
std::vector<TemplateItem> DialogTemplate103();

// The dialog's font: DejaVu Sans at 11 pixels, which every Debian desktop has.
QFont DialogFont();

// A font's dialog base units: the average width of the 52 letters A-Z and
// a-z, and the line height.
QSize DialogBaseUnits(const QFont& font);

// x scales by baseUnits.width() / 4, y by baseUnits.height() / 8, each edge
// rounded to the nearest pixel.
QRect DluToPixels(const QRect& dlu, QSize baseUnits);

// A widget of item's class with its name, caption, state and geometry.
QWidget* CreateControl(const TemplateItem& item, QSize baseUnits, QWidget* parent);
