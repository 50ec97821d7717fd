// Writes what follows from the layout of dialog template 103
// (ui/dialog_template.cpp), so that the layout is written once:
//   - the Control enum of the controls the window core reaches by identity,
//     with their member names, in template order;
//   - the Windows dialog resource of template 103.
// Built for the build machine and run by the build:
//   kelvane_dialog_codegen <dialog_controls.h> <dialog_103.rc>
#include <cctype>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "ui/dialog_template.h"

namespace {

using ui::ControlClass;
using ui::TemplateItem;

constexpr const char* kMemberPrefix = "m_";
constexpr int kDropDownExtra = 150;  // a combo's resource height includes its open list
constexpr const char* kProgressClass = "KelvaneTextProgress";

// Port combos and bars are reached by channel number, every other member by
// its identity.
bool IsCoreControl(const TemplateItem& item) {
    return item.name.rfind(kMemberPrefix, 0) == 0 && item.cls != ControlClass::kCombo &&
           item.cls != ControlClass::kProgress;
}

// "m_bootCheck" gives "kBootCheck".
std::string Enumerator(const std::string& member) {
    std::string rest = member.substr(2);
    rest[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
    return "k" + rest;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void WriteControls(std::ostream& out, const std::vector<TemplateItem>& items) {
    out << "// Written by the build from ui/dialog_template.cpp; not to be edited.\n"
           "#pragma once\n\nnamespace ui {\n\n"
           "// The controls the core reads or changes, named after the template's\n"
           "// members (\"m_bootCheck\" is kBootCheck), in template order.\n"
           "enum class Control {\n";
    for (const TemplateItem& item : items) {
        if (IsCoreControl(item)) out << "    " << Enumerator(item.name) << ",\n";
    }
    out << "    kCount\n};\n\n"
           "inline constexpr const char* kControlMemberNames[] = {\n";
    for (const TemplateItem& item : items) {
        if (IsCoreControl(item)) out << "    " << Quoted(item.name) << ",\n";
    }
    out << "};\n\n}  // namespace ui\n";
}

// The style words a control's template state adds.
std::string StateStyles(const TemplateItem& item) {
    std::string styles;
    const auto add = [&styles](const char* word) {
        styles += styles.empty() ? word : std::string(" | ") + word;
    };
    if (item.style & ui::kHidden) add("NOT WS_VISIBLE");
    if (item.style & ui::kDisabled) add("WS_DISABLED");
    return styles;
}

std::string Joined(const std::string& first, const std::string& second) {
    if (first.empty()) return second;
    return second.empty() ? first : first + " | " + second;
}

std::string Place(const TemplateItem& item, int extraHeight = 0) {
    const ui::DluRect& r = item.dlu;
    return std::to_string(r.x) + ", " + std::to_string(r.y) + ", " + std::to_string(r.width) +
           ", " + std::to_string(r.height + extraHeight);
}

std::string ResourceLine(const TemplateItem& item, bool firstRadio) {
    const std::string id = std::to_string(item.id);
    const std::string state = StateStyles(item);
    const std::string readOnly = (item.style & ui::kReadOnly) ? "ES_READONLY" : "";
    const std::string withState = state.empty() ? "" : ", " + state;
    switch (item.cls) {
        case ControlClass::kGroup:
            return "GROUPBOX " + Quoted(item.caption) + ", " + id + ", " + Place(item);
        case ControlClass::kLabel:
            return "LTEXT " + Quoted(item.caption) + ", " + id + ", " + Place(item) + withState;
        case ControlClass::kStatusLabel:
            return "LTEXT " + Quoted(item.caption) + ", " + id + ", " + Place(item) + ", " +
                   Joined("SS_SUNKEN", state);
        case ControlClass::kEdit:
        case ControlClass::kHexEdit:
        case ControlClass::kNoTypingEdit:
            return "EDITTEXT " + id + ", " + Place(item) + ", " +
                   Joined(Joined("ES_AUTOHSCROLL", readOnly), state);
        case ControlClass::kLogEdit:
            return "EDITTEXT " + id + ", " + Place(item) + ", " +
                   Joined(Joined("ES_MULTILINE | ES_AUTOVSCROLL", readOnly),
                          Joined("WS_VSCROLL", state));
        case ControlClass::kCheck:
            return "CONTROL " + Quoted(item.caption) + ", " + id + ", \"Button\", " +
                   Joined("BS_AUTOCHECKBOX | WS_TABSTOP", state) + ", " + Place(item);
        case ControlClass::kRadio:
            return "CONTROL " + Quoted(item.caption) + ", " + id + ", \"Button\", " +
                   Joined(firstRadio ? "BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP"
                                     : "BS_AUTORADIOBUTTON | WS_TABSTOP",
                          state) +
                   ", " + Place(item);
        case ControlClass::kButton:
            return std::string((item.style & ui::kDefaultButton) ? "DEFPUSHBUTTON "
                                                                 : "PUSHBUTTON ") +
                   Quoted(item.caption) + ", " + id + ", " + Place(item) + withState;
        case ControlClass::kCombo:
            return "COMBOBOX " + id + ", " + Place(item, kDropDownExtra) + ", " +
                   Joined("CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP", state);
        case ControlClass::kEditCombo:
            return "COMBOBOX " + id + ", " + Place(item, kDropDownExtra) + ", " +
                   Joined("CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP", state);
        case ControlClass::kProgress:
            return "CONTROL " + Quoted(item.caption) + ", " + id + ", " + Quoted(kProgressClass) +
                   ", " + Joined("WS_BORDER", state) + ", " + Place(item);
    }
    return {};
}

void WriteResource(std::ostream& out, const std::vector<TemplateItem>& items) {
    out << "// Written by the build from ui/dialog_template.cpp; not to be edited.\n"
           "IDD_DOWNLOADER_DIALOG DIALOGEX 0, 0, "
        << ui::kTemplateWidth << ", " << ui::kTemplateHeight
        << "\n"
           "STYLE DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_VISIBLE | WS_CAPTION | "
           "WS_SYSMENU | WS_MINIMIZEBOX\n"
           "EXSTYLE WS_EX_APPWINDOW\n"
           "CAPTION \"Kelvane [All of the Target]\"\n"
           "FONT 10, \"MS Sans Serif\"\n"
           "BEGIN\n";
    ControlClass previous = ControlClass::kGroup;
    for (const TemplateItem& item : items) {
        const bool firstRadio =
            item.cls == ControlClass::kRadio && previous != ControlClass::kRadio;
        out << "    " << ResourceLine(item, firstRadio) << "\n";
        previous = item.cls;
    }
    out << "END\n";
}

// Writes only when the text changed, so that nothing rebuilds for nothing.
bool WriteIfChanged(const std::string& path, const std::string& text) {
    std::ifstream in(path, std::ios::binary);
    const std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.is_open() && old == text) return true;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return out.good();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: kelvane_dialog_codegen <dialog_controls.h> <dialog_103.rc>\n";
        return 2;
    }
    const std::vector<TemplateItem> items = ui::DialogTemplate103();
    std::ostringstream controls;
    WriteControls(controls, items);
    std::ostringstream resource;
    WriteResource(resource, items);
    if (!WriteIfChanged(argv[1], controls.str()) || !WriteIfChanged(argv[2], resource.str())) {
        std::cerr << "kelvane_dialog_codegen: cannot write its output\n";
        return 1;
    }
    return 0;
}
