#include "controls/text_progress.h"

#include <algorithm>

namespace controls {

void TextProgressModel::SetRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
}

int TextProgressModel::SetPos(int pos, int clientWidth, bool* repaint) {
    const int old = m_pos;
    m_pos = pos;
    const int width = FilledWidth(clientWidth);
    *repaint = width != m_drawnWidth;
    m_drawnWidth = width;
    return old;
}

bool TextProgressModel::SetText(const std::string& text) {
    if (text == m_text) return false;
    m_text = text;
    return true;
}

int TextProgressModel::FilledWidth(int clientWidth) const {
    if (m_lower >= m_upper || clientWidth <= 0) return 0;
    const int pos = std::clamp(m_pos, m_lower, m_upper);
    // In double throughout: upper - lower overflows int for wide ranges.
    const double fraction =
        (static_cast<double>(pos) - m_lower) / (static_cast<double>(m_upper) - m_lower);
    return static_cast<int>(fraction * clientWidth);
}

std::array<BarPart, 2> TextProgressModel::Parts(int clientWidth) const {
    const int filled = FilledWidth(clientWidth);
    return {BarPart{0, filled, BarColour::kBar, BarColour::kTextOnBar},
            BarPart{filled, std::max(0, clientWidth - filled), BarColour::kBackground,
                    BarColour::kText}};
}

}  // namespace controls
