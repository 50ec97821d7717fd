#include "controls/qt/memory_dc.h"

#include <QPaintDevice>

MemoryDC::MemoryDC(QPainter& target, const QRect& area)
    : m_target(&target), m_area(area), m_offScreen(IsScreenLike(target.device())) {
    if (!m_offScreen || m_area.isEmpty()) {
        // Nothing to buffer: an empty area still gets a usable painter.
        m_offScreen = false;
        m_target->save();
        return;
    }
    const qreal ratio = target.device()->devicePixelRatioF();
    m_bitmap = QPixmap(m_area.size() * ratio);
    m_bitmap.setDevicePixelRatio(ratio);
    m_painter.begin(&m_bitmap);
    m_painter.translate(-m_area.topLeft());
}

MemoryDC::~MemoryDC() {
    if (!m_offScreen) {
        m_target->restore();
        return;
    }
    m_painter.end();
    m_target->drawPixmap(m_area.topLeft(), m_bitmap);
}

bool MemoryDC::IsScreenLike(const QPaintDevice* device) {
    if (device == nullptr) return false;
    switch (device->devType()) {
        case QInternal::Widget:
        case QInternal::Pixmap:
        case QInternal::Image:
            return true;
        default:
            return false;
    }
}
