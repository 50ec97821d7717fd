// The progress bar of a download channel: a bar filled from the left in
// proportion to the position, with the control's text drawn across the whole
// bar in two colours (one over the filled part, black over the rest). All
// drawing goes through MemoryDC, so a bar updated many times a second does
// not flicker. Window thread only.
//
// Repaints are kept to what the eye can see: SetPos repaints (synchronously)
// only when the filled width moves by at least one pixel, and SetWindowText
// schedules a repaint only when the text really changes.
//
// Positions outside the range are kept as given (SetPos returns them back)
// but clamped to the range for drawing, so the bar never spills out of the
// control nor shrinks below empty. A range with lower >= upper counts as an
// empty bar: the filled width is 0, nothing is divided, and painting still
// draws the background and the text.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include "controls/text_progress.h"

class TextProgressCtrl : public QWidget {
    Q_OBJECT

public:
    explicit TextProgressCtrl(QWidget* parent = nullptr);
    ~TextProgressCtrl() override;

    // Stores the range; no redraw (the next SetPos or text change shows it).
    void SetRange(int lower, int upper);
    // Returns the previous position. Repaints at once when the filled width
    // changes.
    int SetPos(int pos);
    int GetPos() const { return m_model.Pos(); }

    // The text drawn on the bar. An equal text does nothing.
    void SetWindowText(const QString& text);
    QString WindowText() const { return m_text; }

    // The colour of the filled part; an invalid colour gives back the
    // palette's own. Repaints when it changes.
    void SetBarColour(const QColor& colour);
    QColor BarColour() const { return m_barColour; }

    // Paint events handled so far; lets tests count repaints.
    int paintCount() const { return m_paintCount; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    const QColor& Colour(controls::BarColour colour) const;
    void DrawText(QPainter& painter, const QRect& clip, const QColor& colour) const;

    controls::TextProgressModel m_model;
    QString m_text;
    QColor m_barColour;
    QColor m_backColour;
    QColor m_textOnBarColour;
    QColor m_textColour = Qt::black;
    int m_paintCount = 0;
};
