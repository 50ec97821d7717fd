// The channel progress bar as a window: when it repaints, how wide the
// filled part is and in which colours, the guards for odd ranges, its text
// and font, and its use from a dialog template.
#include "controls/win32/text_progress_ctrl.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/controls/win32/canvas.h"

namespace {

using kelvane_test::Canvas;

const COLORREF kUnpainted = RGB(1, 2, 3);
const COLORREF kBlack = RGB(0, 0, 0);
const wchar_t kParentClass[] = L"KelvaneTestParent";

class TextProgressCtrlTest : public ::testing::Test {
protected:
    // One shown parent for every test: showing a top-level window is slow
    // under Wine without a window manager.
    static void SetUpTestSuite() {
        ASSERT_TRUE(controls::RegisterTextProgressClass());
        ASSERT_TRUE(controls::RegisterTextProgressClass());  // again: harmless
        WNDCLASSEXW info = {};
        info.cbSize = sizeof(info);
        info.lpfnWndProc = &::DefWindowProcW;
        info.hInstance = ::GetModuleHandleW(nullptr);
        info.lpszClassName = kParentClass;
        if (!::GetClassInfoExW(info.hInstance, kParentClass, &info)) {
            ASSERT_NE(::RegisterClassExW(&info), 0);
        }
        s_parent = ::CreateWindowExW(0, kParentClass, L"bar test", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                                     200, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(s_parent, nullptr);
        ::ShowWindow(s_parent, SW_SHOWNOACTIVATE);
        ::UpdateWindow(s_parent);
    }

    static void TearDownTestSuite() {
        ::DestroyWindow(s_parent);
        s_parent = nullptr;
    }

    void TearDown() override {
        if (m_bar != nullptr) ::DestroyWindow(m_bar);
    }

    // A shown bar of this client size, fully painted.
    void Show(int width, int height = 20, const wchar_t* caption = L"") {
        ASSERT_NE(s_parent, nullptr);
        m_bar = ::CreateWindowExW(0, controls::kTextProgressClassName, caption,
                                  WS_CHILD | WS_VISIBLE, 10, 10, width, height, s_parent, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_bar, nullptr);
        ASSERT_NO_FATAL_FAILURE(Settle());
        ASSERT_GT(Paints(), 0);
    }

    // Handles every paint the bar has pending; none may be left after.
    void Settle() {
        ::UpdateWindow(s_parent);
        ::UpdateWindow(m_bar);
        ASSERT_FALSE(::GetUpdateRect(m_bar, nullptr, FALSE));
    }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageW(m_bar, message, wParam, lParam);
    }
    int SetPos(int pos) { return static_cast<int>(Send(PBM_SETPOS, static_cast<WPARAM>(pos))); }
    void SetRange(int lower, int upper) {
        Send(PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
    }
    int Paints() { return static_cast<int>(Send(controls::kTextProgressGetPaintCount)); }
    void Resize(int width, int height) {
        ::SetWindowPos(m_bar, nullptr, 0, 0, width, height,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // The bar drawn into a bitmap of its client size.
    void Render(Canvas& canvas) {
        Send(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
    }

    // Columns [from, to) of every row are all of one colour.
    static bool ColumnsAre(const Canvas& canvas, int from, int to, COLORREF colour) {
        for (int y = 0; y < canvas.Height(); ++y) {
            for (int x = from; x < to; ++x) {
                if (canvas.At(x, y) != colour) return false;
            }
        }
        return true;
    }

    static COLORREF Bar() { return ::GetSysColor(COLOR_HIGHLIGHT); }
    static COLORREF Back() { return ::GetSysColor(COLOR_WINDOW); }

    static inline HWND s_parent = nullptr;
    HWND m_bar = nullptr;
};

TEST_F(TextProgressCtrlTest, FilledPartIsTheTruncatedShareOfTheWidthInTheSystemColours) {
    ASSERT_NO_FATAL_FAILURE(Show(170));
    ASSERT_NE(Bar(), Back());
    SetPos(50);  // 85 pixels
    {
        Canvas canvas(170, 20, kUnpainted);
        Render(canvas);
        EXPECT_EQ(canvas.At(84, 10), Bar());
        EXPECT_EQ(canvas.At(86, 10), Back());
        EXPECT_TRUE(ColumnsAre(canvas, 0, 85, Bar()));
        EXPECT_TRUE(ColumnsAre(canvas, 85, 170, Back()));
    }
    SetRange(100, 300);  // a range that does not start at 0
    SetPos(200);
    {
        Canvas canvas(170, 20, kUnpainted);
        Render(canvas);
        EXPECT_EQ(canvas.At(84, 0), Bar());
        EXPECT_EQ(canvas.At(85, 0), Back());
    }
    // Outside the range: kept as given, drawn clamped.
    SetPos(1000);
    EXPECT_EQ(Send(PBM_GETPOS), 1000);
    {
        Canvas canvas(170, 20, kUnpainted);
        Render(canvas);
        EXPECT_TRUE(ColumnsAre(canvas, 0, 170, Bar()));
    }
}

TEST_F(TextProgressCtrlTest, RepaintsAtOnceOnlyWhenTheFilledPartMovesAPixel) {
    ASSERT_NO_FATAL_FAILURE(Show(64));
    const int start = Paints();

    EXPECT_EQ(SetPos(50), 0);  // width 32
    EXPECT_EQ(Paints(), start + 1);
    EXPECT_EQ(SetPos(51), 50);  // 32.64: still 32
    EXPECT_EQ(Paints(), start + 1);
    EXPECT_EQ(SetPos(75), 51);  // width 48
    EXPECT_EQ(Paints(), start + 2);
    EXPECT_EQ(Send(PBM_GETPOS), 75);

    // The range alone redraws nothing, and nothing was left pending.
    SetRange(0, 200);
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(Paints(), start + 2);
    EXPECT_EQ(SetPos(75), 75);  // 24 pixels under the new range
    EXPECT_EQ(Paints(), start + 3);
}

TEST_F(TextProgressCtrlTest, ResizeMakesTheNextSetPosRepaint) {
    ASSERT_NO_FATAL_FAILURE(Show(64));
    SetPos(50);
    Resize(64, 30);  // same width: the filled part stays 32 pixels
    ASSERT_NO_FATAL_FAILURE(Settle());
    const int afterResize = Paints();

    SetPos(50);
    EXPECT_EQ(Paints(), afterResize + 1);
    SetPos(50);
    EXPECT_EQ(Paints(), afterResize + 1);

    Resize(100, 30);  // the new width is used at once
    SetPos(50);
    Canvas canvas(100, 30, kUnpainted);
    Render(canvas);
    EXPECT_EQ(canvas.At(49, 0), Bar());
    EXPECT_EQ(canvas.At(50, 0), Back());
}

TEST_F(TextProgressCtrlTest, EmptyOrInvertedRangeCompletesThePaintWithAnEmptyBar) {
    ASSERT_NO_FATAL_FAILURE(Show(64));
    SetPos(50);
    const int start = Paints();

    SetRange(0, 0);  // an empty image file
    EXPECT_EQ(SetPos(0), 50);
    EXPECT_EQ(Paints(), start + 1);  // the bar empties
    EXPECT_EQ(SetPos(7), 0);
    EXPECT_EQ(Paints(), start + 1);

    // A full repaint is handled once and not asked for again.
    ::InvalidateRect(m_bar, nullptr, FALSE);
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(Paints(), start + 2);
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(Paints(), start + 2);
    {
        Canvas canvas(64, 20, kUnpainted);
        Render(canvas);
        EXPECT_TRUE(ColumnsAre(canvas, 0, 64, Back()));
    }

    SetRange(10, 5);
    SetPos(8);
    ::SetWindowTextW(m_bar, L"HHHH");  // the text is still drawn, in black
    ASSERT_NO_FATAL_FAILURE(Settle());
    Canvas canvas(64, 20, kUnpainted);
    Render(canvas);
    int black = 0;
    bool stray = false;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 64; ++x) {
            const COLORREF pixel = canvas.At(x, y);
            black += pixel == kBlack;
            stray |= pixel == Bar() || pixel == kUnpainted;
        }
    }
    EXPECT_GT(black, 0);
    EXPECT_FALSE(stray);
}

TEST_F(TextProgressCtrlTest, OnlyARealTextChangeRepaintsAndTheTextComesBack) {
    ASSERT_NO_FATAL_FAILURE(Show(64, 20, L"Progress1"));
    // A caption from the template is not the bar's text.
    EXPECT_EQ(::GetWindowTextLengthW(m_bar), 0);
    const int start = Paints();

    EXPECT_TRUE(::SetWindowTextW(m_bar, L"Modem: 5%"));
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(Paints(), start + 1);
    ::SetWindowTextW(m_bar, L"Modem: 5%");
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(Paints(), start + 1);

    wchar_t wide[32] = {};
    EXPECT_EQ(::GetWindowTextW(m_bar, wide, 32), 9);
    EXPECT_EQ(std::wstring(wide), L"Modem: 5%");
    EXPECT_EQ(::GetWindowTextLengthW(m_bar), 9);
    char narrow[32] = {};
    EXPECT_EQ(::GetWindowTextA(m_bar, narrow, 32), 9);
    EXPECT_STREQ(narrow, "Modem: 5%");
    // A short buffer gets what fits and its terminator.
    wchar_t shortBuffer[5] = {L'x', L'x', L'x', L'x', L'x'};
    EXPECT_EQ(Send(WM_GETTEXT, 5, reinterpret_cast<LPARAM>(shortBuffer)), 4);
    EXPECT_EQ(std::wstring(shortBuffer), L"Mode");
    EXPECT_EQ(Send(WM_GETTEXT, 0, reinterpret_cast<LPARAM>(shortBuffer)), 0);

    // No text (null) clears it once; empty on empty is no change.
    Send(WM_SETTEXT, 0, 0);
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(Paints(), start + 2);
    EXPECT_EQ(::GetWindowTextLengthW(m_bar), 0);
    Send(WM_SETTEXT, 0, 0);
    ::SetWindowTextW(m_bar, L"");
    ASSERT_NO_FATAL_FAILURE(Settle());
    EXPECT_EQ(Paints(), start + 2);
}

TEST_F(TextProgressCtrlTest, TextIsDrawnInTheWindowColourOverTheBarAndBlackElsewhere) {
    ASSERT_NO_FATAL_FAILURE(Show(300, 40));
    const HFONT font = ::CreateFontW(-24, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                     NONANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
    ASSERT_NE(font, nullptr);
    Send(WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    EXPECT_EQ(reinterpret_cast<HFONT>(Send(WM_GETFONT)), font);
    // Longer than the bar: it runs across both parts and off the right edge.
    ::SetWindowTextW(m_bar, std::wstring(40, L'M').c_str());
    SetPos(50);

    Canvas canvas(300, 40, kUnpainted);
    Render(canvas);
    int onBarPixels = 0;
    int blackPixels = 0;
    bool stray = false;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 300; ++x) {
            const COLORREF pixel = canvas.At(x, y);
            const bool done = x < 150;
            onBarPixels += done && pixel == Back();
            blackPixels += !done && pixel == kBlack;
            stray |= done ? pixel != Bar() && pixel != Back() : pixel != Back() && pixel != kBlack;
        }
    }
    EXPECT_GT(onBarPixels, 100);
    EXPECT_GT(blackPixels, 100);
    EXPECT_FALSE(stray);
    ::DestroyWindow(m_bar);  // before the font it uses
    m_bar = nullptr;
    ::DeleteObject(font);
}

// A dialog template in memory: DS_SETFONT and one bar, as a resource script
// would write them.
std::vector<WORD> BarDialogTemplate(WORD barId) {
    std::vector<WORD> words;
    const auto add = [&words](const void* data, std::size_t bytes) {
        const auto* from = static_cast<const WORD*>(data);
        words.insert(words.end(), from, from + bytes / sizeof(WORD));
    };
    const auto addText = [&words](const wchar_t* text) {
        do {
            words.push_back(static_cast<WORD>(*text));
        } while (*text++ != L'\0');
    };
    DLGTEMPLATE dialog = {};
    dialog.style = WS_POPUP | WS_CAPTION | DS_SETFONT;
    dialog.cdit = 1;
    dialog.cx = 200;
    dialog.cy = 60;
    add(&dialog, sizeof(dialog));
    words.push_back(0);  // no menu
    words.push_back(0);  // the standard dialog class
    addText(L"bars");
    words.push_back(8);  // points
    addText(L"MS Shell Dlg");
    if (words.size() % 2 != 0) words.push_back(0);  // items start on a DWORD
    DLGITEMTEMPLATE item = {};
    item.style = WS_CHILD | WS_VISIBLE;
    item.x = 10;
    item.y = 10;
    item.cx = 150;
    item.cy = 12;
    item.id = barId;
    add(&item, sizeof(item));
    addText(controls::kTextProgressClassName);
    addText(L"");
    words.push_back(0);  // no creation data
    return words;
}

INT_PTR CALLBACK PlainDialog(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

TEST(TextProgressInDialogTest, ATemplateMakesTheBarWithTheDialogsFont) {
    ASSERT_TRUE(controls::RegisterTextProgressClass());
    const std::vector<WORD> words = BarDialogTemplate(1001);
    const HWND dialog = ::CreateDialogIndirectParamW(
        ::GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(words.data()), nullptr,
        &PlainDialog, 0);
    ASSERT_NE(dialog, nullptr);
    const HWND bar = ::GetDlgItem(dialog, 1001);
    ASSERT_NE(bar, nullptr);
    const auto dialogFont = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    EXPECT_NE(dialogFont, nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(bar, WM_GETFONT, 0, 0)), dialogFont);
    ::SendDlgItemMessageW(dialog, 1001, PBM_SETRANGE32, 0, 1000);
    EXPECT_EQ(::SendDlgItemMessageW(dialog, 1001, PBM_SETPOS, 400, 0), 0);
    EXPECT_EQ(::SendDlgItemMessageW(dialog, 1001, PBM_GETPOS, 0, 0), 400);
    EXPECT_TRUE(::SetDlgItemTextW(dialog, 1001, L"Boot 40%"));
    wchar_t text[16] = {};
    EXPECT_EQ(::GetDlgItemTextW(dialog, 1001, text, 16), 8);
    EXPECT_EQ(std::wstring(text), L"Boot 40%");
    ::DestroyWindow(dialog);
}

}  // namespace
