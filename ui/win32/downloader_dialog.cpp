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
#include "ui/dialog_ids.h"
#include "ui/dialog_template.h"
#include "ui/win32/text.h"
#include "ui/win32/window_prompt.h"
#include "ui/win32/window_pump.h"

namespace ui::win32 {

namespace {

constexpr const char* kNoPortEntry = "-----------";
constexpr int kPortListHeight = 16;  // entries a port combo shows when open

using Handler = void (ui::DownloaderCore::*)();

// The buttons and boxes whose click goes to one handler.
struct ClickRoute {
    int id;
    Handler handler;
};

constexpr ClickRoute kClickRoutes[] = {
    {IDC_LOAD_BUTTON, &ui::DownloaderCore::OnLoad},
    {IDC_SAVE_AS_BUTTON, &ui::DownloaderCore::OnSaveAs},
    {IDC_DOWNLOAD_BUTTON, &ui::DownloaderCore::OnDownload},
    {IDC_PORT_SEARCH_BUTTON, &ui::DownloaderCore::OnPortSearch},
    {IDC_AUTO_CHECK, &ui::DownloaderCore::OnAutoClicked},
    {IDC_STATION_CHECK, &ui::DownloaderCore::OnStationCheck},
    {IDC_BOOT_BUTTON, &ui::DownloaderCore::OnBootButton},
    {IDC_FULL_BINARY_CHECK, &ui::DownloaderCore::OnFullBinary},
    {IDC_MODEM_TYPE1_RADIO, &ui::DownloaderCore::OnModemType1},
    {IDC_MODEM_TYPE2_RADIO, &ui::DownloaderCore::OnModemType2},
    {IDC_BOOT_CHANGE_CHECK, &ui::DownloaderCore::OnBootChange},
    {IDC_BOOT_CHECK, &ui::DownloaderCore::OnBootCheck},
    {IDC_USB_CHECK, &ui::DownloaderCore::OnUsbCheck},
    {IDC_MODEM_CHECK, &ui::DownloaderCore::OnModemCheck},
    {IDC_RSRC1_CHECK, &ui::DownloaderCore::OnRsrc1Check},
    {IDC_RSRC2_CHECK, &ui::DownloaderCore::OnRsrc2Check},
    {IDC_FACTORY_FS_CHECK, &ui::DownloaderCore::OnFactoryFsCheck},
    {IDC_FOTA_CHECK, &ui::DownloaderCore::OnFotaCheck},
    // The Boot row's button is the boot-folder button above.
    {IDC_USB_BUTTON, &ui::DownloaderCore::OnUsbBrowse},
    {IDC_MODEM_BUTTON, &ui::DownloaderCore::OnModemBrowse},
    {IDC_RSRC1_BUTTON, &ui::DownloaderCore::OnRsrc1Browse},
    {IDC_RSRC2_BUTTON, &ui::DownloaderCore::OnRsrc2Browse},
    {IDC_FACTORY_FS_BUTTON, &ui::DownloaderCore::OnFactoryFsBrowse},
    {IDC_FOTA_BUTTON, &ui::DownloaderCore::OnFotaBrowse},
};

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
}

DownloaderDialog::~DownloaderDialog() {
    m_core->TearDown();
    if (m_hwnd != nullptr) ::DestroyWindow(m_hwnd);
    if (platform::GetOperatorPrompt() == m_services.prompt) platform::SetOperatorPrompt(nullptr);
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
        case NotifyMessage:
            ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT,
                                m_core->OnNotify(wParam, reinterpret_cast<const void*>(lParam)));
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
    if (id == IDOK) return;  // Enter presses no button
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
    if (code == BN_CLICKED) {
        for (const ClickRoute& route : kClickRoutes) {
            if (route.id == id) (m_core.get()->*route.handler)();
        }
        return;
    }
    OnRowCommand(id, code);
}

// Focus changes of the path edits: the abbreviated path and the full path
// both show the full path; leaving the full path hides it again.
void DownloaderDialog::OnRowCommand(int id, int code) {
    if (code != EN_SETFOCUS && code != EN_KILLFOCUS) return;
    for (int r = 0; r < kRowCount; ++r) {
        const RowControls row = ControlsOf(static_cast<Row>(r));
        const bool onPath = id == ::GetDlgCtrlID(Item(row.path));
        const bool onFull = id == ::GetDlgCtrlID(Item(row.fullPath));
        if (code == EN_SETFOCUS && (onPath || onFull)) m_core->ShowFullPath(static_cast<Row>(r));
        if (code == EN_KILLFOCUS && onFull) m_core->HideFullPath(static_cast<Row>(r));
    }
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
    if (message != NotifyMessage || m_hwnd == nullptr) return 0;
    if (::GetWindowThreadProcessId(m_hwnd, nullptr) == ::GetCurrentThreadId()) {
        return m_core->OnNotify(code, payload);
    }
    // The worker waits here until the window has handled the notification,
    // so its payload stays valid throughout.
    return ::SendMessageW(m_hwnd, NotifyMessage, code, reinterpret_cast<LPARAM>(payload));
}

void DownloaderDialog::RunWithWindowPump(const std::function<void()>& session) {
    ScopedWindowPump pump(m_hwnd);
    session();
}

// The view: each control by its class in the template.

HWND DownloaderDialog::Item(Control control) const {
    return m_controls[static_cast<int>(control)];
}

std::string DownloaderDialog::Text(Control control) const {
    return WindowText(Item(control));
}

void DownloaderDialog::SetText(Control control, const std::string& text) {
    HWND item = Item(control);
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
    ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(kNoPortEntry).c_str()));
    for (int n = 1; n <= portEntries; ++n) {
        const std::wstring entry = L"COM" + std::to_wstring(n);
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

ui::DialogView::Answer DownloaderDialog::Ask(const std::string& text, bool withCancel) {
    if (m_services.ask) return m_services.ask(text, withCancel);
    const UINT buttons = withCancel ? MB_YESNOCANCEL : MB_YESNO;
    const int answer =
        ::MessageBoxW(m_hwnd, Widen(text).c_str(), L"Kelvane", buttons | MB_ICONQUESTION);
    if (answer == IDYES) return Answer::kYes;
    return answer == IDNO || !withCancel ? Answer::kNo : Answer::kCancel;
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
