// The drawing rule of a channel's progress bar, for every toolkit: a bar
// filled from the left in proportion to the position, the text drawn across
// the whole bar in two colours (the text-on-bar colour over the filled part,
// the text colour over the rest), and a repaint only when the eye can see a
// change (the filled width moved by a pixel, or the text changed).
//
// Positions outside the range are kept as given but clamped for drawing, so
// the bar never spills out of the control nor shrinks below empty. A range
// with lower >= upper is an empty bar.
#pragma once

#include <array>
#include <string>

namespace controls {

enum class BarColour { kBar, kBackground, kTextOnBar, kText };

// A part of the bar: pixels [left, left + width) of the client area, filled
// with fill and its share of the text drawn in text. width may be 0.
struct BarPart {
    int left;
    int width;
    BarColour fill;
    BarColour text;
};

class TextProgressModel {
public:
    // Stores the range; no repaint (the next position or text shows it).
    void SetRange(int lower, int upper);
    // Returns the previous position; *repaint tells whether the filled width
    // of a client area clientWidth wide moved since it was last drawn.
    int SetPos(int pos, int clientWidth, bool* repaint);
    int Pos() const { return m_pos; }
    // True when the text changed (a repaint is then due).
    bool SetText(const std::string& text);
    const std::string& Text() const { return m_text; }
    // The control changed its size: the next position repaints.
    void Resized() { m_drawnWidth = -1; }

    // Pixels of the filled part for a client area this wide.
    int FilledWidth(int clientWidth) const;
    // The filled part, then the rest.
    std::array<BarPart, 2> Parts(int clientWidth) const;

private:
    int m_lower = 0;
    int m_upper = 100;
    int m_pos = 0;
    int m_drawnWidth = -1;
    std::string m_text;
};

}  // namespace controls
