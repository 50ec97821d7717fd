// The dialog's creation from template 103, its control bindings, the one
// place where notifications are forwarded, and the core's view done with
// the standard control messages.
#include "ui/win32/downloader_dialog.h"

#include <commctrl.h>
#include <dbt.h>

#include <cstdio>
#include <cstdlib>

#include "controls/win32/text_progress_ctrl.h"
#include "link/notify.h"
#include "platform/wide_text_win32.h"
#include "ui/dialog_ids.h"
#include "ui/dialog_template.h"
#include "ui/win32/text.h"
#include "ui/win32/window_prompt.h"
#include "ui/win32/window_pump.h"

namespace ui::win32 {

namespace {

constexpr int kPortListHeight = 16;  // entries a port combo shows when open

// Runs a task a worker hands to the window thread (WindowThread).
constexpr UINT kRunMessage = WM_APP + 2;

HINSTANCE Instance() {
    return ::GetModuleHandleW(nullptr);
}

// A control of the template by its member name; a missing one is a fault of
// the template itself.
HWND BindItem(HWND dialog, const std::vector<TemplateItem>& items, const std::string& name) {
    const TemplateItem* item = FindTemplateItem(items, name);
    HWND control = item != nullptr ? ::GetDlgItem(dialog, item->id) : nullptr;
    if (control == nullptr) {
        std::fprintf(stderr, "kelvane: dialog template 103 has no control %s\n", name.c_str());
        std::abort();
    }
    return control;
}

}  // namespace

bool RegisterDialogClasses() {
    INITCOMMONCONTROLSEX common{sizeof common, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    const bool commonControls = ::InitCommonControlsEx(&common) != FALSE;
    return controls::RegisterTextProgressClass() && commonControls;
}

DownloaderDialog::DownloaderDialog(DialogServices services) : m_services(std::move(services)) {
    if (!m_services.ports) m_services.ports = platform::MakeSystemSerialPortSource();
    if (!m_services.fileDialogs) m_services.fileDialogs = MakeSystemFileDialogs();
    m_hIcon = static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                              IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    m_hSmallIcon = static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                   IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), 0));
    m_core = std::make_unique<ui::DownloaderCore>(*this, *this, std::move(m_services.ports));
    m_core->SetStationCountsSource(std::move(m_services.stationCounts));
}

DownloaderDialog::~DownloaderDialog() {
    m_core->EndView(m_services.prompt);
    if (m_hwnd != nullptr) ::DestroyWindow(m_hwnd);
    if (m_hIcon != nullptr) ::DestroyIcon(m_hIcon);
    if (m_hSmallIcon != nullptr) ::DestroyIcon(m_hSmallIcon);
}

void DownloaderDialog::DoModal() {
    m_modal = true;
    ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_DOWNLOADER_DIALOG), nullptr, &DialogProc,
                      reinterpret_cast<LPARAM>(this));
    m_hwnd = nullptr;  // the modal loop destroyed it
}

HWND DownloaderDialog::Create() {
    m_modal = false;
    return ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(IDD_DOWNLOADER_DIALOG), nullptr,
                                &DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK DownloaderDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<DownloaderDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return dialog->OnInitDialog(hwnd) ? TRUE : FALSE;
    }
    auto* dialog = reinterpret_cast<DownloaderDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (dialog == nullptr || !dialog->m_bound) return FALSE;
    if (message == WM_NCDESTROY) {
        dialog->m_hwnd = nullptr;
        dialog->m_bound = false;
        return FALSE;
    }
    return dialog->OnMessage(message, wParam, lParam);
}

// Every message the dialog answers itself; the rest go on to the system's
// dialog procedure.
INT_PTR DownloaderDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_DEVICECHANGE:
            OnDeviceChange(wParam, lParam);
            ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case kRunMessage:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return TRUE;
        case WM_DESTROY:
            // The controls are still there: the settings are taken from them.
            m_core->TearDown();
            return FALSE;
        case kPromptMessage:
            ShowPromptBox(m_hwnd, reinterpret_cast<PromptRequest*>(lParam));
            return TRUE;
        default:
            return FALSE;
    }
}

bool DownloaderDialog::OnInitDialog(HWND hwnd) {
    m_hwnd = hwnd;
    BindControls();
    m_bound = true;
    if (m_services.prompt == nullptr) {
        m_ownPrompt = std::make_unique<WindowPrompt>(hwnd);
        m_services.prompt = m_ownPrompt.get();
    }
    platform::SetOperatorPrompt(m_services.prompt);
    ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    ::SetWindowTextW(hwnd, Widen(kWindowTitle).c_str());
    ::SendMessageW(Item(Control::kStatusLogEdit), EM_SETLIMITTEXT, 0, 0);
    CreateToolTips();
    m_core->OnInitDialog();
    return true;  // the system sets the focus
}

void DownloaderDialog::BindControls() {
    const std::vector<TemplateItem> items = DialogTemplate103();
    for (int c = 0; c < ui::kControlCount; ++c) {
        m_controls[c] = BindItem(m_hwnd, items, ControlName(static_cast<Control>(c)));
    }
    for (int ch = 0; ch < kChannelCount; ++ch) {
        m_portCombo[ch] = BindItem(m_hwnd, items, "m_portCombo" + std::to_string(ch));
        m_progress[ch] = BindItem(m_hwnd, items, "m_progress" + std::to_string(ch));
        ::SendMessageW(m_portCombo[ch], CB_SETMINVISIBLE, kPortListHeight, 0);
    }
}

// One tooltip window for the eight port combos; each tells the port's device.
void DownloaderDialog::CreateToolTips() {
    m_toolTip =
        ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, m_hwnd, nullptr, Instance(), nullptr);
    if (m_toolTip == nullptr) return;
    for (HWND combo : m_portCombo) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = m_hwnd;
        tool.uId = reinterpret_cast<UINT_PTR>(combo);
        tool.lpszText = const_cast<wchar_t*>(L"");
        ::SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void DownloaderDialog::OnCommand(int id, int code) {
    if (id == IDOK) {
        m_core->OnEnter();
        return;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return;
    }
    if (code == CBN_SELCHANGE) {
        for (int ch = 0; ch < kChannelCount; ++ch) {
            if (::GetDlgCtrlID(m_portCombo[ch]) == id) m_core->OnPortSelected(ch);
        }
        return;
    }
    const int control = ControlOf(id);
    if (code == BN_CLICKED && control >= 0) m_core->OnClicked(static_cast<Control>(control));
    if ((code == EN_SETFOCUS || code == EN_KILLFOCUS) && control >= 0) {
        m_core->OnFocusChanged(static_cast<Control>(control), code == EN_SETFOCUS);
    }
}

// The control of a command's identifier; -1 for none of the core's.
int DownloaderDialog::ControlOf(int id) const {
    for (int c = 0; c < ui::kControlCount; ++c) {
        if (::GetDlgCtrlID(m_controls[c]) == id) return c;
    }
    return -1;
}

// Ports come and go as DBT_DEVTYP_PORT broadcasts that name them ("COM5").
void DownloaderDialog::OnDeviceChange(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_PORT) return;
    const auto* port = reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header);
    const auto kind = event == DBT_DEVICEARRIVAL ? platform::PortEvent::Kind::kArrival
                                                 : platform::PortEvent::Kind::kRemoval;
    m_core->OnDeviceChange(kind, Narrow(port->dbcp_name));
}

// Escape and the close box: the dialog ends once the core allows it (during
// a download it stops every channel first and ends the dialog later).
void DownloaderDialog::OnCancel() {
    if (m_core->OnClose()) Finish();
}

// The core ends the dialog once the session of a close during a download
// is over: the close goes on from where it waited.
void DownloaderDialog::EndDialog() {
    OnCancel();
}

void DownloaderDialog::Finish() {
    m_ended = true;
    if (m_modal) {
        ::EndDialog(m_hwnd, IDCANCEL);
    } else {
        ::ShowWindow(m_hwnd, SW_HIDE);
    }
}

intptr_t DownloaderDialog::Send(unsigned message, uintptr_t code, const void* payload) {
    return m_core->HandOff(message, code, payload, *this);
}

bool DownloaderDialog::IsCurrent() const {
    return m_hwnd != nullptr &&
           ::GetWindowThreadProcessId(m_hwnd, nullptr) == ::GetCurrentThreadId();
}

void DownloaderDialog::RunBlocking(const std::function<void()>& task) {
    if (m_hwnd == nullptr) return;
    ::SendMessageW(m_hwnd, kRunMessage, 0, reinterpret_cast<LPARAM>(&task));
}

// A question the services answer (a test's) is theirs; else a Yes/No question
// is the installed prompt's, as the workers' are, and one with Cancel is a box
// of its own.
ui::DialogView::Answer DownloaderDialog::Ask(const std::string& text, bool withCancel) {
    if (m_services.ask) return m_services.ask(text, withCancel);
    if (!withCancel) return m_services.prompt->AskYesNo(text.c_str()) ? Answer::kYes : Answer::kNo;
    const int answer =
        ::MessageBoxW(m_hwnd, Widen(text).c_str(), L"Kelvane", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDYES) return Answer::kYes;
    return answer == IDNO ? Answer::kNo : Answer::kCancel;
}

void DownloaderDialog::RunWithWindowPump(const std::function<void()>& session) {
    ScopedWindowPump pump(m_hwnd);
    session();
}

// The view: each control by its class in the template.

HWND DownloaderDialog::Item(Control control) const {
    return m_controls[static_cast<int>(control)];
}

// A text set in the ANSI code page (a path an older settings file holds)
// reads back as it was set while the control still shows it, so that a save
// keeps it byte for byte unless the operator changed it.
std::string DownloaderDialog::Text(Control control) const {
    const std::string text = WindowText(Item(control));
    const std::string& ansi = m_ansiText[static_cast<int>(control)];
    return !ansi.empty() && Widen(ansi) == Widen(text) ? ansi : text;
}

void DownloaderDialog::SetText(Control control, const std::string& text) {
    HWND item = Item(control);
    m_ansiText[static_cast<int>(control)] = platform::IsUtf8(text) ? std::string() : text;
    ::SetWindowTextW(item, Widen(text).c_str());
    if (control != Control::kStatusLogEdit) return;
    // The last line in sight.
    const LPARAM end = ::GetWindowTextLengthW(item);
    ::SendMessageW(item, EM_SETSEL, static_cast<WPARAM>(end), end);
    ::SendMessageW(item, EM_SCROLLCARET, 0, 0);
}

bool DownloaderDialog::IsChecked(Control control) const {
    return ::SendMessageW(Item(control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void DownloaderDialog::SetChecked(Control control, bool checked) {
    ::SendMessageW(Item(control), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void DownloaderDialog::SetEnabled(Control control, bool enabled) {
    ::EnableWindow(Item(control), enabled ? TRUE : FALSE);
}

void DownloaderDialog::SetVisible(Control control, bool visible) {
    ::ShowWindow(Item(control), visible ? SW_SHOW : SW_HIDE);
}

void DownloaderDialog::SetFocus(Control control) {
    ::SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(control)), TRUE);
}

void DownloaderDialog::SetPortEntries(int channel, int portEntries) {
    HWND combo = m_portCombo[channel];
    ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (int n = 0; n <= portEntries; ++n) {
        const std::wstring entry = Widen(ui::DownloaderCore::PortEntryLabel(n));
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
}

int DownloaderDialog::PortSelection(int channel) const {
    const LRESULT selection = ::SendMessageW(m_portCombo[channel], CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? -1 : static_cast<int>(selection);
}

void DownloaderDialog::SelectPort(int channel, int entry) {
    ::SendMessageW(m_portCombo[channel], CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
}

void DownloaderDialog::SetPortEnabled(int channel, bool enabled) {
    ::EnableWindow(m_portCombo[channel], enabled ? TRUE : FALSE);
}

void DownloaderDialog::SetPortToolTip(int channel, const std::string& text) {
    if (m_toolTip == nullptr) return;
    const std::wstring wide = Widen(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = m_hwnd;
    tool.uId = reinterpret_cast<UINT_PTR>(m_portCombo[channel]);
    tool.lpszText = const_cast<wchar_t*>(wide.c_str());
    ::SendMessageW(m_toolTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void DownloaderDialog::SetBarText(int channel, const std::string& text) {
    ::SetWindowTextW(m_progress[channel], Widen(text).c_str());
}

void DownloaderDialog::SetBarRange(int channel, int lower, int upper) {
    ::SendMessageW(m_progress[channel], PBM_SETRANGE32, static_cast<WPARAM>(lower), upper);
}

void DownloaderDialog::SetBarPos(int channel, int pos) {
    ::SendMessageW(m_progress[channel], PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void DownloaderDialog::SetBarLook(int channel, BarLook look) {
    const COLORREF colour = look == BarLook::kPassed   ? RGB(0x2e, 0x9d, 0x3a)
                            : look == BarLook::kFailed ? RGB(0xcc, 0x22, 0x22)
                                                       : CLR_DEFAULT;
    ::SendMessageW(m_progress[channel], PBM_SETBARCOLOR, 0, static_cast<LPARAM>(colour));
}

std::optional<std::string> DownloaderDialog::ChooseImageSetToLoad(const std::string& initialFile) {
    return m_services.fileDialogs->ChooseToLoad(m_hwnd, initialFile);
}

std::optional<std::string> DownloaderDialog::ChooseImageSetToSave(const std::string& initialFile) {
    return m_services.fileDialogs->ChooseToSave(m_hwnd, initialFile);
}

std::optional<std::string> DownloaderDialog::ChooseImageFile(const char* filter,
                                                             const char* defaultSuffix) {
    return m_services.fileDialogs->ChooseImageFile(m_hwnd, filter, defaultSuffix);
}

std::optional<std::string> DownloaderDialog::ChooseFolder(const char* title,
                                                          const std::string& initialFolder) {
    return m_services.fileDialogs->ChooseFolder(title, initialFolder);
}

}  // namespace ui::win32
