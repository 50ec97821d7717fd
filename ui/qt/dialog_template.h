// Dialog template 103 in Qt: how dialog units become pixels for the
// dialog's font, and a widget for each control of the template.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <string>
#include <vector>

#include "ui/dialog_template.h"

class QWidget;

using ui::ControlClass;
using ui::DialogTemplate103;
using ui::kTemplateHeight;
using ui::kTemplateWidth;
using ui::TemplateItem;

// The dialog's font: DejaVu Sans at 11 pixels, which every Debian desktop has.
QFont DialogFont();

// A font's dialog base units: the average width of the 52 letters A-Z and
// a-z, and the line height.
QSize DialogBaseUnits(const QFont& font);

// x scales by baseUnits.width() / 4, y by baseUnits.height() / 8, each edge
// rounded to the nearest pixel.
QRect DluToPixels(const QRect& dlu, QSize baseUnits);

// A widget of item's class with its name, caption, state and geometry.
QWidget* CreateControl(const TemplateItem& item, QSize baseUnits, QWidget* parent);
