// An off-screen drawing context for one paint. Everything drawn through
// painter() lands in a pixmap the size of the area being drawn; the
// destructor copies that pixmap to the target in one drawPixmap call, so the
// screen never shows a half-drawn state. Coordinates are the target's own:
// the painter is translated so the area's top-left corner lands on the
// pixmap's origin.
//
// Targets that are not screen-like (a printer, a recorded QPicture, a PDF
// writer) are drawn to directly; the target painter's state is saved on
// construction and restored on destruction, so the caller sees it unchanged.
#pragma once

#include <QPainter>
#include <QPixmap>
#include <QRect>

class MemoryDC {
public:
    // target must be active and outlive this object.
    MemoryDC(QPainter& target, const QRect& area);
    ~MemoryDC();

    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;

    // The painter to draw with, in the target's coordinates.
    QPainter& painter() { return m_offScreen ? m_painter : *m_target; }
    bool isOffScreen() const { return m_offScreen; }
    const QRect& area() const { return m_area; }

private:
    static bool IsScreenLike(const QPaintDevice* device);

    QPixmap m_bitmap;
    QPainter* m_target;
    QRect m_area;
    bool m_offScreen;
    QPainter m_painter;
};
