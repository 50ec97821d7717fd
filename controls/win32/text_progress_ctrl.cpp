#include "controls/win32/text_progress_ctrl.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <new>
#include <string>

#include "controls/text_progress.h"
#include "controls/win32/memory_dc.h"
#include "controls/win32/wide_text.h"

namespace controls {

namespace {

// Everything one bar keeps, hung on the window's extra bytes from
// WM_NCCREATE to WM_NCDESTROY.
struct BarState {
    TextProgressModel model;
    std::wstring text;
    HFONT font = nullptr;
    int lower = 0;
    int upper = 100;
    int paintCount = 0;
    // Indexed by BarColour; read once, when the window is made.
    std::array<COLORREF, 4> colours = {::GetSysColor(COLOR_HIGHLIGHT), ::GetSysColor(COLOR_WINDOW),
                                       ::GetSysColor(COLOR_WINDOW), RGB(0, 0, 0)};
};

BarState* StateOf(HWND window) {
    return reinterpret_cast<BarState*>(::GetWindowLongPtrW(window, 0));
}

COLORREF Colour(const BarState& state, BarColour colour) {
    return state.colours[static_cast<std::size_t>(colour)];
}

int ClientWidth(HWND window) {
    RECT client;
    ::GetClientRect(window, &client);
    return client.right - client.left;
}

void Fill(HDC dc, const RECT& area, COLORREF colour) {
    ::SetBkColor(dc, colour);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);
}

void DrawTextClipped(HDC dc, const BarState& state, const RECT& client, const RECT& clip,
                     COLORREF colour) {
    if (::IsRectEmpty(&clip)) return;
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, clip.left, clip.top, clip.right, clip.bottom);
    ::SetTextColor(dc, colour);
    RECT layout = client;
    ::DrawTextW(dc, state.text.c_str(), static_cast<int>(state.text.size()), &layout,
                DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
    ::RestoreDC(dc, saved);
}

// Draws the whole bar into target, off screen first.
void Draw(HWND window, const BarState& state, HDC target) {
    RECT client;
    ::GetClientRect(window, &client);
    MemoryDC memory(target);
    const HDC dc = memory.Handle();
    const HGDIOBJ previousFont = state.font != nullptr ? ::SelectObject(dc, state.font) : nullptr;
    const auto parts = state.model.Parts(client.right - client.left);
    const auto area = [&client](const BarPart& part) {
        return RECT{client.left + part.left, client.top, client.left + part.left + part.width,
                    client.bottom};
    };
    // Every fill before any text: the text is drawn clipped to its part.
    for (const BarPart& part : parts)
        Fill(dc, area(part), Colour(state, part.fill));
    if (!state.text.empty()) {
        ::SetBkMode(dc, TRANSPARENT);
        for (const BarPart& part : parts)
            DrawTextClipped(dc, state, client, area(part), Colour(state, part.text));
    }
    if (previousFont != nullptr) ::SelectObject(dc, previousFont);
}

void OnPaint(HWND window, BarState& state) {
    ++state.paintCount;
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(window, &paint);
    if (dc != nullptr) Draw(window, state, dc);
    ::EndPaint(window, &paint);
}

LRESULT OnSetRange(BarState& state, WPARAM lower, LPARAM upper) {
    const LRESULT previous = MAKELRESULT(LOWORD(state.lower), LOWORD(state.upper));
    state.lower = static_cast<int>(lower);
    state.upper = static_cast<int>(upper);
    state.model.SetRange(state.lower, state.upper);
    return previous;
}

LRESULT OnSetPos(HWND window, BarState& state, WPARAM pos) {
    bool repaint = false;
    const int old = state.model.SetPos(static_cast<int>(pos), ClientWidth(window), &repaint);
    if (repaint) ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    return old;
}

LRESULT OnSetBarColour(HWND window, BarState& state, LPARAM colour) {
    COLORREF& bar = state.colours[static_cast<std::size_t>(BarColour::kBar)];
    const COLORREF previous = bar;
    bar = static_cast<COLORREF>(colour) == CLR_DEFAULT ? ::GetSysColor(COLOR_HIGHLIGHT)
                                                       : static_cast<COLORREF>(colour);
    if (bar != previous) ::InvalidateRect(window, nullptr, FALSE);
    return static_cast<LRESULT>(previous);
}

LRESULT OnSetText(HWND window, BarState& state, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = ::DefWindowProcW(window, WM_SETTEXT, wParam, lParam);
    const auto* given = reinterpret_cast<const wchar_t*>(lParam);
    std::wstring text = given != nullptr ? given : L"";
    // The model compares byte strings (the text in UTF-8); the wide text is
    // compared too, so any change repaints.
    const bool modelChanged = state.model.SetText(Narrow(text));
    if (!modelChanged && text == state.text) return result;
    state.text = std::move(text);
    ::InvalidateRect(window, nullptr, FALSE);
    return result;
}

LRESULT OnGetText(const BarState& state, WPARAM size, LPARAM lParam) {
    auto* buffer = reinterpret_cast<wchar_t*>(lParam);
    if (buffer == nullptr || size == 0) return 0;
    const std::size_t count = std::min<std::size_t>(size - 1, state.text.size());
    state.text.copy(buffer, count);
    buffer[count] = L'\0';
    return static_cast<LRESULT>(count);
}

LRESULT OnSetFont(HWND window, BarState& state, WPARAM font, LPARAM redraw) {
    state.font = reinterpret_cast<HFONT>(font);
    if (LOWORD(redraw) != 0) ::InvalidateRect(window, nullptr, FALSE);
    return 0;
}

LRESULT OnCreate(HWND window, WPARAM wParam, LPARAM lParam) {
    auto* state = new (std::nothrow) BarState;
    if (state == nullptr) return FALSE;
    ::SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(state));
    return ::DefWindowProcW(window, WM_NCCREATE, wParam, lParam);
}

LRESULT OnDestroy(HWND window, WPARAM wParam, LPARAM lParam) {
    delete StateOf(window);
    ::SetWindowLongPtrW(window, 0, 0);
    return ::DefWindowProcW(window, WM_NCDESTROY, wParam, lParam);
}

LRESULT Dispatch(HWND window, BarState& state, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            OnPaint(window, state);
            return 0;
        case WM_PRINTCLIENT:
            Draw(window, state, reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the paint covers every pixel
        case WM_SIZE:
            state.model.Resized();
            break;
        case PBM_SETRANGE32:
            return OnSetRange(state, wParam, lParam);
        case PBM_SETPOS:
            return OnSetPos(window, state, wParam);
        case PBM_GETPOS:
            return state.model.Pos();
        case PBM_SETBARCOLOR:
            return OnSetBarColour(window, state, lParam);
        case WM_SETTEXT:
            return OnSetText(window, state, wParam, lParam);
        case WM_GETTEXT:
            return OnGetText(state, wParam, lParam);
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(state.text.size());
        case WM_SETFONT:
            return OnSetFont(window, state, wParam, lParam);
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(state.font);
        case kTextProgressGetPaintCount:
            return state.paintCount;
        default:
            break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK TextProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) return OnCreate(window, wParam, lParam);
    if (message == WM_NCDESTROY) return OnDestroy(window, wParam, lParam);
    BarState* state = StateOf(window);
    // WM_GETMINMAXINFO comes before WM_NCCREATE.
    if (state == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    return Dispatch(window, *state, message, wParam, lParam);
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&TextProgressProc), &module);
    return module;
}

}  // namespace

bool RegisterTextProgressClass() {
    const HINSTANCE module = ThisModule();
    WNDCLASSEXW info = {};
    info.cbSize = sizeof(info);
    if (::GetClassInfoExW(module, kTextProgressClassName, &info)) return true;
    info = {};
    info.cbSize = sizeof(info);
    // A new width or height moves the filled part and the text: redraw it all.
    info.style = CS_HREDRAW | CS_VREDRAW;
    info.lpfnWndProc = &TextProgressProc;
    info.cbWndExtra = sizeof(BarState*);
    info.hInstance = module;
    info.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    info.lpszClassName = kTextProgressClassName;
    return ::RegisterClassExW(&info) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace controls
