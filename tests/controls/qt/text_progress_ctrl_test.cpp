// The channel progress bar on a shown window: when it repaints, how wide the
// filled part is, the guards for odd ranges and positions, and the text in
// two colours.
#include "controls/qt/text_progress_ctrl.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPalette>
#include <QTest>
#include <QWidget>
#include <climits>

namespace {

// A widget that counts its paints; updating it and waiting for its paint
// flushes every repaint pending in the same window.
class PaintProbe : public QWidget {
public:
    using QWidget::QWidget;
    int count = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++count; }
};

class TextProgressCtrlTest : public ::testing::Test {
protected:
    void Show(int width, int height = 20) {
        m_window.resize(width + 20, height + 40);
        m_bar = new TextProgressCtrl(&m_window);
        m_bar->setGeometry(10, 10, width, height);
        m_probe = new PaintProbe(&m_window);
        m_probe->setGeometry(0, height + 20, 10, 10);
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
        ASSERT_TRUE(QTest::qWaitFor([this] { return m_bar->paintCount() > 0; }));
        Flush();
    }

    // Lets the window handle every repaint scheduled so far.
    void Flush() {
        const int before = m_probe->count;
        m_probe->update();
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_probe->count > before; }));
    }

    QImage Picture() const { return m_bar->grab().toImage(); }
    QRgb Bar() const { return m_bar->palette().color(QPalette::Highlight).rgb(); }
    QRgb Back() const { return m_bar->palette().color(QPalette::Base).rgb(); }
    QRgb At(const QImage& image, int x, int y = 0) const { return image.pixel(x, y) | 0xFF000000; }

    // Columns [from, to) of every row, all of one colour.
    bool ColumnsAre(const QImage& image, int from, int to, QRgb colour) const {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = from; x < to; ++x) {
                if (At(image, x, y) != colour) return false;
            }
        }
        return true;
    }

    QWidget m_window;
    TextProgressCtrl* m_bar = nullptr;
    PaintProbe* m_probe = nullptr;
};

TEST_F(TextProgressCtrlTest, RepaintsAtOnceOnlyWhenTheFilledPartMovesAPixel) {
    ASSERT_NO_FATAL_FAILURE(Show(64));
    const int start = m_bar->paintCount();

    EXPECT_EQ(m_bar->SetPos(50), 0);  // width 32
    EXPECT_EQ(m_bar->paintCount(), start + 1);
    EXPECT_EQ(m_bar->SetPos(51), 50);  // 32.64: still 32
    EXPECT_EQ(m_bar->paintCount(), start + 1);
    EXPECT_EQ(m_bar->SetPos(75), 51);  // width 48
    EXPECT_EQ(m_bar->paintCount(), start + 2);
    EXPECT_EQ(m_bar->SetPos(75), 75);
    EXPECT_EQ(m_bar->SetPos(74), 75);  // 47.36: one pixel back
    EXPECT_EQ(m_bar->paintCount(), start + 3);

    // Nothing was left pending either.
    ASSERT_NO_FATAL_FAILURE(Flush());
    EXPECT_EQ(m_bar->paintCount(), start + 3);
}

TEST_F(TextProgressCtrlTest, FilledPartIsTheTruncatedShareOfTheWidth) {
    ASSERT_NO_FATAL_FAILURE(Show(170));
    m_bar->SetPos(50);
    QImage image = Picture();
    ASSERT_EQ(image.width(), 170);
    EXPECT_TRUE(ColumnsAre(image, 0, 85, Bar()));
    EXPECT_TRUE(ColumnsAre(image, 85, 170, Back()));

    m_bar->SetPos(33);  // 56.1 pixels
    image = Picture();
    EXPECT_EQ(At(image, 55), Bar());
    EXPECT_EQ(At(image, 56), Back());

    m_bar->SetRange(100, 300);  // a range that does not start at 0
    m_bar->SetPos(200);
    image = Picture();
    EXPECT_EQ(At(image, 84), Bar());
    EXPECT_EQ(At(image, 85), Back());

    m_bar->SetPos(100);
    EXPECT_TRUE(ColumnsAre(Picture(), 0, 170, Back()));
    m_bar->SetPos(300);
    EXPECT_TRUE(ColumnsAre(Picture(), 0, 170, Bar()));
}

TEST_F(TextProgressCtrlTest, OnlyARealTextChangeSchedulesARepaint) {
    ASSERT_NO_FATAL_FAILURE(Show(64));
    const int start = m_bar->paintCount();

    m_bar->SetWindowText(QStringLiteral("Modem: 5%"));
    ASSERT_NO_FATAL_FAILURE(Flush());
    EXPECT_EQ(m_bar->paintCount(), start + 1);
    EXPECT_EQ(m_bar->WindowText(), QStringLiteral("Modem: 5%"));

    m_bar->SetWindowText(QStringLiteral("Modem: 5%"));
    ASSERT_NO_FATAL_FAILURE(Flush());
    EXPECT_EQ(m_bar->paintCount(), start + 1);

    m_bar->SetWindowText(QString());
    ASSERT_NO_FATAL_FAILURE(Flush());
    EXPECT_EQ(m_bar->paintCount(), start + 2);
    EXPECT_TRUE(m_bar->WindowText().isEmpty());

    // Empty on empty, null or not, is no change.
    m_bar->SetWindowText(QString());
    m_bar->SetWindowText(QStringLiteral(""));
    ASSERT_NO_FATAL_FAILURE(Flush());
    EXPECT_EQ(m_bar->paintCount(), start + 2);
}

TEST_F(TextProgressCtrlTest, ResizeMakesTheNextSetPosRepaint) {
    ASSERT_NO_FATAL_FAILURE(Show(64));
    m_bar->SetPos(50);
    m_bar->resize(64, 30);  // same width: the filled part stays 32 pixels
    ASSERT_NO_FATAL_FAILURE(Flush());
    const int afterResize = m_bar->paintCount();

    m_bar->SetPos(50);
    EXPECT_EQ(m_bar->paintCount(), afterResize + 1);
    m_bar->SetPos(50);
    EXPECT_EQ(m_bar->paintCount(), afterResize + 1);

    m_bar->resize(100, 30);  // the new width is used at once
    m_bar->SetPos(50);
    const QImage image = Picture();
    EXPECT_EQ(At(image, 49), Bar());
    EXPECT_EQ(At(image, 50), Back());
}

TEST_F(TextProgressCtrlTest, EmptyOrInvertedRangeDrawsAnEmptyBar) {
    ASSERT_NO_FATAL_FAILURE(Show(64));
    m_bar->SetPos(50);
    const int start = m_bar->paintCount();

    m_bar->SetRange(0, 0);  // an empty image file
    EXPECT_EQ(m_bar->SetPos(0), 50);
    EXPECT_EQ(m_bar->paintCount(), start + 1);  // the bar empties
    EXPECT_EQ(m_bar->SetPos(7), 0);
    EXPECT_EQ(m_bar->paintCount(), start + 1);
    EXPECT_TRUE(ColumnsAre(Picture(), 0, 64, Back()));

    m_bar->SetRange(10, 5);
    m_bar->SetPos(8);
    EXPECT_TRUE(ColumnsAre(Picture(), 0, 64, Back()));

    // The text is still drawn, all of it over the empty part.
    QFont font = m_bar->font();
    font.setPixelSize(16);
    m_bar->setFont(font);
    m_bar->SetWindowText(QStringLiteral("HHHH"));
    const QImage image = Picture();
    int black = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            black += At(image, x, y) == qRgb(0, 0, 0);
    }
    EXPECT_GT(black, 0);
}

TEST_F(TextProgressCtrlTest, PositionsOutsideTheRangeAreDrawnClamped) {
    ASSERT_NO_FATAL_FAILURE(Show(64));
    const int start = m_bar->paintCount();

    EXPECT_EQ(m_bar->SetPos(150), 0);
    EXPECT_EQ(m_bar->GetPos(), 150);  // kept as given
    EXPECT_EQ(m_bar->SetPos(1000), 150);
    EXPECT_EQ(m_bar->paintCount(), start + 1);  // both draw a full bar
    EXPECT_TRUE(ColumnsAre(Picture(), 0, 64, Bar()));

    const int full = m_bar->paintCount();
    m_bar->SetPos(-20);
    m_bar->SetPos(INT_MIN);
    EXPECT_EQ(m_bar->paintCount(), full + 1);
    EXPECT_TRUE(ColumnsAre(Picture(), 0, 64, Back()));

    // The widest range: no overflow anywhere, and the middle is the middle.
    m_bar->SetRange(INT_MIN, INT_MAX);
    m_bar->SetPos(0);
    const QImage image = Picture();
    EXPECT_EQ(At(image, 31), Bar());
    EXPECT_EQ(At(image, 32), Back());
    m_bar->SetPos(INT_MAX);
    EXPECT_TRUE(ColumnsAre(Picture(), 0, 64, Bar()));
}

TEST_F(TextProgressCtrlTest, TextIsDrawnInTheOnBarColourOverTheBarAndBlackElsewhere) {
    ASSERT_NO_FATAL_FAILURE(Show(300, 40));
    QFont font = m_bar->font();
    font.setPixelSize(24);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);  // glyph pixels in exact colours
    m_bar->setFont(font);
    // Longer than the bar: it runs across both parts and off the right edge.
    m_bar->SetWindowText(QString(40, u'M'));
    m_bar->SetPos(50);

    const QImage image = Picture();
    const QRgb onBar = m_bar->palette().color(QPalette::Base).rgb();
    const QRgb black = qRgb(0, 0, 0);
    int onBarPixels = 0;
    int blackPixels = 0;
    bool stray = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = At(image, x, y);
            const bool done = x < 150;
            onBarPixels += done && pixel == onBar;
            blackPixels += !done && pixel == black;
            stray |= done ? pixel != Bar() && pixel != onBar : pixel != Back() && pixel != black;
        }
    }
    EXPECT_GT(onBarPixels, 100);
    EXPECT_GT(blackPixels, 100);
    EXPECT_FALSE(stray);
}

TEST_F(TextProgressCtrlTest, ColoursAreTakenFromThePaletteAtConstruction) {
    QPalette palette = m_window.palette();
    palette.setColor(QPalette::Highlight, QColor(200, 30, 40));
    palette.setColor(QPalette::Base, QColor(250, 240, 200));
    m_window.setPalette(palette);
    ASSERT_NO_FATAL_FAILURE(Show(64));
    m_bar->SetPos(50);

    // A later palette change does not reach the bar.
    QPalette later = m_bar->palette();
    later.setColor(QPalette::Highlight, Qt::green);
    later.setColor(QPalette::Base, Qt::blue);
    m_bar->setPalette(later);

    const QImage image = Picture();
    EXPECT_EQ(At(image, 31), qRgb(200, 30, 40));
    EXPECT_EQ(At(image, 32), qRgb(250, 240, 200));
}

}  // namespace
