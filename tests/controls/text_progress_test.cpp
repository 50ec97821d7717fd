// The progress bar's drawing rule: which pixels are filled, which colour the
// text takes where, and when a repaint is due.
#include <gtest/gtest.h>

#include <climits>

#include "controls/text_progress.h"

namespace {

using controls::BarColour;

TEST(TextProgressModelTest, FilledWidthIsClampedAndSafeForAnyRange) {
    controls::TextProgressModel bar;
    bar.SetRange(0, 200);
    bool repaint = false;
    bar.SetPos(50, 400, &repaint);
    const auto parts = bar.Parts(400);
    EXPECT_EQ(parts[0].width, 100);
    EXPECT_EQ(parts[0].fill, BarColour::kBar);
    EXPECT_EQ(parts[0].text, BarColour::kTextOnBar);
    EXPECT_EQ(parts[1].left, 100);
    EXPECT_EQ(parts[1].width, 300);
    EXPECT_EQ(parts[1].text, BarColour::kText);

    bar.SetPos(-5, 400, &repaint);  // kept as given, drawn as empty
    EXPECT_EQ(bar.Pos(), -5);
    EXPECT_EQ(bar.FilledWidth(400), 0);
    bar.SetPos(999, 400, &repaint);
    EXPECT_EQ(bar.FilledWidth(400), 400);

    bar.SetRange(INT_MIN, INT_MAX);  // upper - lower would overflow an int
    bar.SetPos(0, 400, &repaint);
    EXPECT_EQ(bar.FilledWidth(400), 200);
    bar.SetRange(10, 10);  // an empty range is an empty bar
    EXPECT_EQ(bar.Parts(400)[0].width, 0);
    EXPECT_EQ(bar.Parts(400)[1].width, 400);
}

TEST(TextProgressModelTest, RepaintsOnlyForAVisibleChange) {
    controls::TextProgressModel bar;
    bar.SetRange(0, 1000);
    bool repaint = false;
    EXPECT_EQ(bar.SetPos(1, 100, &repaint), 0);
    EXPECT_TRUE(repaint);  // the first position is always drawn
    bar.SetPos(9, 100, &repaint);
    EXPECT_FALSE(repaint);  // still under one pixel
    bar.SetPos(10, 100, &repaint);
    EXPECT_TRUE(repaint);
    bar.Resized();
    bar.SetPos(10, 200, &repaint);
    EXPECT_TRUE(repaint);

    EXPECT_TRUE(bar.SetText("CH0 Modem: 1%"));
    EXPECT_FALSE(bar.SetText("CH0 Modem: 1%"));
}

}  // namespace
