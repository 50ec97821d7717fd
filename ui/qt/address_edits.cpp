#include "ui/qt/address_edits.h"

#include <QKeyEvent>

namespace {

constexpr int kMaxAddressDigits = 8;

enum class KeyKind {
    kMove,       // moves the cursor or copies: never changes the text
    kBackspace,  // the backspace character
    kCharacter,  // anything else: a typed character or an editing shortcut
};

bool IsMovementKey(int key) {
    switch (key) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_Meta:
            return true;
        default:
            return false;
    }
}

KeyKind Classify(const QKeyEvent* event) {
    if (event->key() == Qt::Key_Backspace && event->modifiers() == Qt::NoModifier) {
        return KeyKind::kBackspace;
    }
    if (IsMovementKey(event->key()) || event->matches(QKeySequence::Copy) ||
        event->matches(QKeySequence::SelectAll)) {
        return KeyKind::kMove;
    }
    return KeyKind::kCharacter;
}

// The hexadecimal digit the key types, upper-cased; an empty text for any
// other key.
QString HexDigitTyped(const QKeyEvent* event) {
    const QString text = event->text();
    if (text.size() != 1 || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        return {};
    }
    const char c = text.at(0).toLatin1();
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    return hex ? text.toUpper() : QString();
}

}  // namespace

HexAddressEdit::HexAddressEdit(QWidget* parent) : QLineEdit(parent) {
    setAcceptDrops(false);
}

void HexAddressEdit::keyPressEvent(QKeyEvent* event) {
    const KeyKind kind = Classify(event);
    if (kind != KeyKind::kCharacter) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QString digit = HexDigitTyped(event);
    if (!digit.isEmpty() && text().size() < kMaxAddressDigits) {
        QKeyEvent upper(event->type(), event->key(), event->modifiers(), digit,
                        event->isAutoRepeat(), static_cast<ushort>(event->count()));
        QLineEdit::keyPressEvent(&upper);
    }
    event->accept();
}

NoTypingEdit::NoTypingEdit(QWidget* parent) : QLineEdit(parent) {
    setAcceptDrops(false);
}

void NoTypingEdit::keyPressEvent(QKeyEvent* event) {
    if (Classify(event) == KeyKind::kMove) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
}
