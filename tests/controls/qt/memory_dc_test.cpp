// The off-screen context: nothing reaches the target before the end, the
// whole area arrives at its own place in one piece (also on a high-density
// target), and targets that are not screen-like are drawn to directly.
#include "controls/qt/memory_dc.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPicture>
#include <QPixmap>

namespace {

QRgb PixelOf(const QPixmap& pixmap, int x, int y) {
    return pixmap.toImage().pixel(x, y) | 0xFF000000;
}

TEST(MemoryDCTest, DrawsOffScreenAndCopiesOnlyTheAreaAtTheEnd) {
    QPixmap target(100, 50);
    target.fill(Qt::white);
    QPainter painter(&target);
    {
        MemoryDC dc(painter, QRect(10, 5, 30, 20));
        EXPECT_TRUE(dc.isOffScreen());
        // Target coordinates, and more than the area: only the area counts.
        dc.painter().fillRect(QRect(0, 0, 100, 50), Qt::red);
        dc.painter().fillRect(QRect(10, 5, 1, 1), Qt::blue);
        painter.end();
        EXPECT_EQ(PixelOf(target, 20, 10), qRgb(255, 255, 255));  // not yet
        painter.begin(&target);
    }
    painter.end();
    EXPECT_EQ(PixelOf(target, 10, 5), qRgb(0, 0, 255));
    EXPECT_EQ(PixelOf(target, 39, 24), qRgb(255, 0, 0));
    EXPECT_EQ(PixelOf(target, 9, 5), qRgb(255, 255, 255));
    EXPECT_EQ(PixelOf(target, 40, 24), qRgb(255, 255, 255));
    EXPECT_EQ(PixelOf(target, 39, 25), qRgb(255, 255, 255));
}

TEST(MemoryDCTest, KeepsTheTargetsPixelDensity) {
    QPixmap target(200, 100);
    target.setDevicePixelRatio(2.0);
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        MemoryDC dc(painter, QRect(10, 10, 30, 20));
        dc.painter().fillRect(QRect(10, 10, 30, 20), Qt::red);
        // A half-pixel line only a double-density buffer can hold.
        dc.painter().fillRect(QRectF(10, 10, 0.5, 20), Qt::blue);
    }
    EXPECT_EQ(PixelOf(target, 20, 20), qRgb(0, 0, 255));
    EXPECT_EQ(PixelOf(target, 21, 20), qRgb(255, 0, 0));
    EXPECT_EQ(PixelOf(target, 79, 59), qRgb(255, 0, 0));
    EXPECT_EQ(PixelOf(target, 80, 59), qRgb(255, 255, 255));
    EXPECT_EQ(PixelOf(target, 19, 19), qRgb(255, 255, 255));
}

TEST(MemoryDCTest, DrawsStraightToARecordingAndLeavesItsStateAsItWas) {
    QPicture picture;
    QPainter painter(&picture);
    painter.setPen(Qt::green);
    {
        MemoryDC dc(painter, QRect(0, 0, 20, 20));
        EXPECT_FALSE(dc.isOffScreen());
        EXPECT_EQ(&dc.painter(), &painter);
        dc.painter().setPen(Qt::red);
        dc.painter().setClipRect(QRect(0, 0, 5, 5));
        dc.painter().fillRect(QRect(0, 0, 20, 20), Qt::red);
    }
    EXPECT_EQ(painter.pen().color(), QColor(Qt::green));
    EXPECT_FALSE(painter.hasClipping());
    painter.end();

    QImage played(20, 20, QImage::Format_RGB32);
    played.fill(Qt::white);
    QPainter(&played).drawPicture(0, 0, picture);
    EXPECT_EQ(played.pixel(4, 4) | 0xFF000000, qRgb(255, 0, 0));
    EXPECT_EQ(played.pixel(5, 5) | 0xFF000000, qRgb(255, 255, 255));
}

TEST(MemoryDCTest, EmptyAreaStillGivesAPainter) {
    QPixmap target(10, 10);
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        MemoryDC dc(painter, QRect());
        EXPECT_FALSE(dc.isOffScreen());
        EXPECT_TRUE(dc.painter().isActive());
    }
    EXPECT_EQ(PixelOf(target, 0, 0), qRgb(255, 255, 255));
}

}  // namespace
