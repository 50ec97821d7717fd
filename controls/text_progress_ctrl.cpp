#include "controls/text_progress_ctrl.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QResizeEvent>
#include <algorithm>

#include "controls/memory_dc.h"

TextProgressCtrl::TextProgressCtrl(QWidget* parent)
    : QWidget(parent),
      m_barColour(palette().color(QPalette::Highlight)),
      m_backColour(palette().color(QPalette::Base)),
      m_textOnBarColour(palette().color(QPalette::Base)) {
    // The paint handler covers every pixel; erasing first would only flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TextProgressCtrl::~TextProgressCtrl() = default;

void TextProgressCtrl::SetRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
}

int TextProgressCtrl::SetPos(int pos) {
    const int old = m_pos;
    m_pos = pos;
    const int width = FilledWidth(rect().width());
    if (width != m_barWidth) {
        m_barWidth = width;
        repaint();
    }
    return old;
}

void TextProgressCtrl::SetWindowText(const QString& text) {
    if (text == m_text) return;
    m_text = text;
    update();
}

double TextProgressCtrl::Fraction() const {
    if (m_lower >= m_upper) return 0.0;
    const int pos = std::clamp(m_pos, m_lower, m_upper);
    // In double throughout: upper - lower overflows int for wide ranges.
    return (static_cast<double>(pos) - m_lower) / (static_cast<double>(m_upper) - m_lower);
}

int TextProgressCtrl::FilledWidth(int clientWidth) const {
    return static_cast<int>(Fraction() * clientWidth);
}

void TextProgressCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_barWidth = -1;
}

void TextProgressCtrl::paintEvent(QPaintEvent* event) {
    ++m_paintCount;
    const QRect client = rect();
    QPainter target(this);
    MemoryDC dc(target, event->rect());
    QPainter& painter = dc.painter();
    painter.setFont(font());

    QRect done = client;
    done.setRight(client.left() + FilledWidth(client.width()) - 1);
    QRect rest = client;
    rest.setLeft(done.right() + 1);

    painter.fillRect(done, m_barColour);
    painter.fillRect(rest, m_backColour);
    if (m_text.isEmpty()) return;
    DrawText(painter, done, m_textOnBarColour);
    DrawText(painter, rest, Qt::black);
}

void TextProgressCtrl::DrawText(QPainter& painter, const QRect& clip, const QColor& colour) const {
    if (clip.isEmpty()) return;
    painter.setClipRect(clip);
    painter.setPen(colour);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
}
