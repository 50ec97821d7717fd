// The off-screen context: nothing reaches the target before it ends, then
// the drawing lands where it was drawn, inside the target's clip box only.
#include "controls/win32/memory_dc.h"

#include <gtest/gtest.h>

#include "tests/controls/win32/canvas.h"

namespace {

using kelvane_test::Canvas;

void Paint(HDC dc, const RECT& area, COLORREF colour) {
    ::SetBkColor(dc, colour);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);
}

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kRed = RGB(255, 0, 0);

TEST(MemoryDCTest, DrawingReachesTheTargetOnlyWhenItEndsAndInTheTargetsCoordinates) {
    Canvas canvas(40, 40, kWhite);
    // Only part of the target may be drawn: the clip box is 10..30.
    ::IntersectClipRect(canvas.Dc(), 10, 10, 30, 30);
    {
        controls::MemoryDC memory(canvas.Dc());
        ASSERT_TRUE(memory.IsOffScreen());
        EXPECT_EQ(memory.Area().left, 10);
        EXPECT_EQ(memory.Area().top, 10);
        EXPECT_EQ(memory.Area().right, 30);
        EXPECT_EQ(memory.Area().bottom, 30);
        EXPECT_NE(memory.Handle(), canvas.Dc());
        Paint(memory.Handle(), RECT{0, 0, 40, 40}, kRed);
        EXPECT_EQ(canvas.At(15, 15), kWhite);  // not yet
    }
    EXPECT_EQ(canvas.At(10, 10), kRed);
    EXPECT_EQ(canvas.At(29, 29), kRed);
    EXPECT_EQ(canvas.At(9, 15), kWhite);  // outside the clip box
    EXPECT_EQ(canvas.At(30, 29), kWhite);

    // Drawing at a point lands at that point of the target, not at the
    // bitmap's origin.
    ::SelectClipRgn(canvas.Dc(), nullptr);
    ::IntersectClipRect(canvas.Dc(), 20, 0, 40, 40);
    {
        controls::MemoryDC memory(canvas.Dc());
        Paint(memory.Handle(), RECT{0, 0, 40, 40}, kWhite);
        Paint(memory.Handle(), RECT{25, 5, 26, 6}, kRed);
    }
    EXPECT_EQ(canvas.At(25, 5), kRed);
    EXPECT_EQ(canvas.At(24, 5), kWhite);
    EXPECT_EQ(canvas.At(5, 5), kWhite);  // outside: untouched by either draw
    EXPECT_EQ(canvas.At(15, 15), kRed);  // the first draw, outside the second clip
}

TEST(MemoryDCTest, AnEmptyClipDrawsStraightToTheTargetAndLeavesItsStateAsItWas) {
    Canvas canvas(10, 10, kWhite);
    const HRGN empty = ::CreateRectRgn(0, 0, 0, 0);
    ::SelectClipRgn(canvas.Dc(), empty);
    ::DeleteObject(empty);
    const COLORREF textBefore = ::GetTextColor(canvas.Dc());
    {
        controls::MemoryDC memory(canvas.Dc());
        EXPECT_FALSE(memory.IsOffScreen());
        EXPECT_EQ(memory.Handle(), canvas.Dc());
        ::SetTextColor(memory.Handle(), RGB(1, 2, 3));
        ::SelectClipRgn(memory.Handle(), nullptr);
    }
    EXPECT_EQ(::GetTextColor(canvas.Dc()), textBefore);
    RECT box;
    EXPECT_EQ(::GetClipBox(canvas.Dc(), &box), NULLREGION);  // clip restored too
}

}  // namespace
