// An off-screen drawing context for one paint. Everything drawn through
// Handle() lands in a bitmap the size of the target's clip box; the
// destructor copies that bitmap to the target with one BitBlt, so the screen
// never shows a half-drawn state. Coordinates are the target's own: the
// memory context's window origin is the clip box's top-left corner.
//
// A printer, an empty clip box, or a context or bitmap that cannot be made
// leaves drawing going straight to the target; the target's state is then
// saved on construction and restored on destruction, so the caller sees it
// unchanged either way.
#pragma once

#include <windows.h>

namespace controls {

class MemoryDC {
public:
    // target must outlive this object.
    explicit MemoryDC(HDC target);
    ~MemoryDC();

    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;

    // The context to draw with, in the target's logical coordinates.
    HDC Handle() const { return m_offScreen ? m_dc : m_target; }
    bool IsOffScreen() const { return m_offScreen; }
    // The area being drawn, in the target's logical coordinates.
    const RECT& Area() const { return m_area; }

private:
    bool StartOffScreen();
    void Release();

    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_previousBitmap = nullptr;
    HDC m_target;
    RECT m_area = {};
    bool m_offScreen = false;
    HDC m_dc = nullptr;
    int m_savedState = 0;
};

}  // namespace controls
