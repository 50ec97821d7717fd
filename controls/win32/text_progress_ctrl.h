// The progress bar of a download channel as a Win32 window class: a bar
// filled from the left in proportion to the position, with the window text
// drawn across the whole bar in two colours (the window colour over the
// filled part, black over the rest). Drawing goes through MemoryDC, so a bar
// updated many times a second does not flicker. Window thread only.
//
// Dialogs create it from their template with the class name below and talk
// to it with the standard messages only:
//   PBM_SETRANGE32 (wParam lower, lParam upper): stores the range, no redraw;
//       returns the previous range as PBM_SETRANGE does (low word lower,
//       high word upper).
//   PBM_SETPOS (wParam position): returns the previous position; repaints at
//       once (RedrawWindow with RDW_UPDATENOW) only when the filled width
//       moves by a pixel.
//   PBM_GETPOS: the position.
//   PBM_SETBARCOLOR (lParam a COLORREF, CLR_DEFAULT for the system's
//       highlight colour): the colour of the filled part; returns the
//       previous one and repaints when it changes.
//   WM_SETTEXT / SetWindowText: repaints only when the text really changes.
//   WM_GETTEXT, WM_GETTEXTLENGTH: the bar's text. A caption given at
//       creation (a template's "Progress1") is not the bar's text: a fresh
//       bar has none.
//   WM_SETFONT, WM_GETFONT: the font of the text (the dialog's font).
//   WM_PRINTCLIENT: draws the bar into the given context.
//
// Positions outside the range are kept as given but drawn clamped; a range
// with lower >= upper draws an empty bar (the decisions are those of
// controls::TextProgressModel, shared with the other toolkits).
#pragma once

#include <windows.h>

namespace controls {

inline constexpr wchar_t kTextProgressClassName[] = L"KelvaneTextProgress";

// For tests: returns how many WM_PAINT messages the bar has handled.
inline constexpr UINT kTextProgressGetPaintCount = WM_USER + 0x100;

// Registers the window class for the module holding this code. Calling it
// again is harmless; false when the class could not be registered.
bool RegisterTextProgressClass();

}  // namespace controls
