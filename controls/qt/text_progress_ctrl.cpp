#include "controls/qt/text_progress_ctrl.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QResizeEvent>

#include "controls/qt/memory_dc.h"

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
    m_model.SetRange(lower, upper);
}

int TextProgressCtrl::SetPos(int pos) {
    bool repaintNow = false;
    const int old = m_model.SetPos(pos, rect().width(), &repaintNow);
    if (repaintNow) repaint();
    return old;
}

void TextProgressCtrl::SetWindowText(const QString& text) {
    if (!m_model.SetText(text.toStdString())) return;
    m_text = text;
    update();
}

void TextProgressCtrl::SetBarColour(const QColor& colour) {
    const QColor wanted = colour.isValid() ? colour : palette().color(QPalette::Highlight);
    if (wanted == m_barColour) return;
    m_barColour = wanted;
    update();
}

void TextProgressCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_model.Resized();
}

const QColor& TextProgressCtrl::Colour(controls::BarColour colour) const {
    switch (colour) {
        case controls::BarColour::kBar:
            return m_barColour;
        case controls::BarColour::kBackground:
            return m_backColour;
        case controls::BarColour::kTextOnBar:
            return m_textOnBarColour;
        case controls::BarColour::kText:
            break;
    }
    return m_textColour;
}

void TextProgressCtrl::paintEvent(QPaintEvent* event) {
    ++m_paintCount;
    const QRect client = rect();
    QPainter target(this);
    MemoryDC dc(target, event->rect());
    QPainter& painter = dc.painter();
    painter.setFont(font());
    const auto parts = m_model.Parts(client.width());
    const auto area = [&client](const controls::BarPart& part) {
        return QRect(client.left() + part.left, client.top(), part.width, client.height());
    };
    // Every fill before any text: the text is drawn clipped to its part.
    for (const controls::BarPart& part : parts)
        painter.fillRect(area(part), Colour(part.fill));
    if (m_text.isEmpty()) return;
    for (const controls::BarPart& part : parts)
        DrawText(painter, area(part), Colour(part.text));
}

void TextProgressCtrl::DrawText(QPainter& painter, const QRect& clip, const QColor& colour) const {
    if (clip.isEmpty()) return;
    painter.setClipRect(clip);
    painter.setPen(colour);
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
}
