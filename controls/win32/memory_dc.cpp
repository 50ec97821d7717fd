#include "controls/win32/memory_dc.h"

namespace controls {

namespace {

int Width(const RECT& r) {
    return r.right - r.left;
}

int Height(const RECT& r) {
    return r.bottom - r.top;
}

bool IsPrinter(HDC dc) {
    return ::GetDeviceCaps(dc, TECHNOLOGY) == DT_RASPRINTER;
}

}  // namespace

MemoryDC::MemoryDC(HDC target) : m_target(target) {
    const int clip = ::GetClipBox(target, &m_area);
    const bool hasArea = clip != ERROR && clip != NULLREGION && !::IsRectEmpty(&m_area);
    if (hasArea && !IsPrinter(target) && StartOffScreen()) {
        m_offScreen = true;
        return;
    }
    Release();
    m_savedState = ::SaveDC(m_target);
}

MemoryDC::~MemoryDC() {
    if (!m_offScreen) {
        if (m_savedState != 0) ::RestoreDC(m_target, m_savedState);
        return;
    }
    ::BitBlt(m_target, m_area.left, m_area.top, Width(m_area), Height(m_area), m_dc, m_area.left,
             m_area.top, SRCCOPY);
    Release();
}

bool MemoryDC::StartOffScreen() {
    m_dc = ::CreateCompatibleDC(m_target);
    if (m_dc == nullptr) return false;
    m_bitmap = ::CreateCompatibleBitmap(m_target, Width(m_area), Height(m_area));
    if (m_bitmap == nullptr) return false;
    m_previousBitmap = ::SelectObject(m_dc, m_bitmap);
    ::SetWindowOrgEx(m_dc, m_area.left, m_area.top, nullptr);
    return true;
}

void MemoryDC::Release() {
    if (m_previousBitmap != nullptr) ::SelectObject(m_dc, m_previousBitmap);
    if (m_bitmap != nullptr) ::DeleteObject(m_bitmap);
    if (m_dc != nullptr) ::DeleteDC(m_dc);
    m_previousBitmap = nullptr;
    m_bitmap = nullptr;
    m_dc = nullptr;
}

}  // namespace controls
