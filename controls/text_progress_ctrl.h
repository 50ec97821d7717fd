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
    int GetPos() const { return m_pos; }

    // The text drawn on the bar. An equal text does nothing.
    void SetWindowText(const QString& text);
    QString WindowText() const { return m_text; }

    // Paint events handled so far; lets tests count repaints.
    int paintCount() const { return m_paintCount; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Position as a fraction of the range, clamped to [0, 1]; 0 for a range
    // with lower >= upper.
    double Fraction() const;
    // Width in pixels of the filled part for a client area this wide.
    int FilledWidth(int clientWidth) const;
    void DrawText(QPainter& painter, const QRect& clip, const QColor& colour) const;

    int m_pos = 0;
    int m_upper = 100;
    int m_lower = 0;
    QString m_text;
    int m_barWidth = -1;
    QColor m_barColour;
    QColor m_backColour;
    QColor m_textOnBarColour;
    int m_paintCount = 0;
};
