#include "ui/qt/dialog_template.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>

#include "controls/qt/text_progress_ctrl.h"
#include "ui/qt/address_edits.h"

namespace {

using ui::ControlClass;
using C = ControlClass;
using ui::kDisabled;
using ui::kHidden;
using ui::kReadOnly;
using ui::TemplateItem;

QWidget* NewButtonLike(const TemplateItem& item) {
    const QString caption = QString::fromStdString(item.caption);
    switch (item.cls) {
        case C::kCheck:
            return new QCheckBox(caption);
        case C::kRadio:
            return new QRadioButton(caption);
        default: {
            auto* button = new QPushButton(caption);
            button->setAutoDefault(false);  // Enter presses no button
            return button;
        }
    }
}

QWidget* NewText(const TemplateItem& item) {
    auto* label = new QLabel(QString::fromStdString(item.caption));
    if (item.cls == C::kStatusLabel) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setWordWrap(true);
        label->setMargin(2);
    }
    return label;
}

QWidget* NewEdit(const TemplateItem& item) {
    switch (item.cls) {
        case C::kHexEdit:
            return new HexAddressEdit;
        case C::kNoTypingEdit:
            return new NoTypingEdit;
        case C::kLogEdit: {
            auto* log = new QPlainTextEdit;
            log->setReadOnly(true);
            return log;
        }
        default:
            return new QLineEdit;
    }
}

QWidget* NewCombo(const TemplateItem& item) {
    auto* combo = new QComboBox;
    combo->setEditable(item.cls == C::kEditCombo);
    combo->setMaxVisibleItems(16);
    return combo;
}

QWidget* NewWidget(const TemplateItem& item) {
    switch (item.cls) {
        case C::kGroup:
            return new QGroupBox(QString::fromStdString(item.caption));
        case C::kLabel:
        case C::kStatusLabel:
            return NewText(item);
        case C::kEdit:
        case C::kHexEdit:
        case C::kNoTypingEdit:
        case C::kLogEdit:
            return NewEdit(item);
        case C::kCheck:
        case C::kRadio:
        case C::kButton:
            return NewButtonLike(item);
        case C::kCombo:
        case C::kEditCombo:
            return NewCombo(item);
        case C::kProgress:
            return new TextProgressCtrl;
    }
    return new QWidget;
}

int Scale(int units, int base, int divisor) {
    return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
}

}  // namespace

QFont DialogFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    return font;
}

QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters + 26) / 52, metrics.height()};
}

QRect DluToPixels(const QRect& dlu, QSize baseUnits) {
    // Edges are converted, not sizes: controls that meet in dialog units
    // meet in pixels, never overlap by a rounded pixel.
    const int bx = baseUnits.width();
    const int by = baseUnits.height();
    const int left = Scale(dlu.x(), bx, 4);
    const int top = Scale(dlu.y(), by, 8);
    const int right = Scale(dlu.x() + dlu.width(), bx, 4);
    const int bottom = Scale(dlu.y() + dlu.height(), by, 8);
    return {left, top, right - left, bottom - top};
}

QWidget* CreateControl(const TemplateItem& item, QSize baseUnits, QWidget* parent) {
    QWidget* widget = NewWidget(item);
    widget->setParent(parent);
    widget->setObjectName(QString::fromStdString(item.name));
    widget->setGeometry(
        DluToPixels(QRect(item.dlu.x, item.dlu.y, item.dlu.width, item.dlu.height), baseUnits));
    widget->setEnabled((item.style & kDisabled) == 0);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setReadOnly((item.style & kReadOnly) != 0);
    }
    if ((item.style & kHidden) != 0) widget->hide();
    return widget;
}
