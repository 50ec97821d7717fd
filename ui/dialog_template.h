// Dialog template 103 without a toolkit: every control of the main dialog
// with its resource identifier, member name, caption, state and place in
// dialog units. The layout is written only here: the Qt dialog lays itself
// out from this table, and the build writes from it the Control enum of the
// window core (ui/dialog_controls.h) and the Windows dialog resource
// (ui/codegen/dialog_codegen.cpp).
#pragma once

#include <string>
#include <vector>

namespace ui {

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
    kDefaultButton = 1u << 3,  // drawn as the default button; Enter still presses none
};

// x, y, width and height in dialog units.
struct DluRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct TemplateItem {
    ControlClass cls;
    int id;            // resource identifier; IDC_STATIC (-1) for frames and labels
    std::string name;  // object name: the dialog's member name for bound controls
    std::string caption;
    DluRect dlu;
    unsigned style = kShown;
};

// The title initialisation gives the dialog (with the trailing blank).
inline constexpr const char* kWindowTitle = "Unified Kelvane Ver3.0 ";
// What Load and Save As offer, in the file dialogs' "description|pattern||"
// form, and the suffix a typed name without one gets.
inline constexpr const char* kImageSetFilter = "Varko Files(*.vrk)|*.vrk||";
inline constexpr const char* kImageSetSuffix = "vrk";

// The dialog measures 550 x 390 dialog units.
inline constexpr int kTemplateWidth = 550;
inline constexpr int kTemplateHeight = 390;

// The controls in creation order: group boxes first, so that they lie below
// the controls they frame.
std::vector<TemplateItem> DialogTemplate103();

// The item of that name; nullptr when the template has none.
const TemplateItem* FindTemplateItem(const std::vector<TemplateItem>& items,
                                     const std::string& name);

}  // namespace ui
