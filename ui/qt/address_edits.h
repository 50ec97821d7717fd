// Edits for flash addresses and CRC values. Both filter what the operator
// types before the edit sees it; texts the program sets are never filtered.
// Cursor keys, copy and select-all pass; pasting, cutting and undoing are
// dropped, so no text reaches the edit around the filter.
#pragma once

#include <QLineEdit>

// Takes a hexadecimal digit only while the text is shorter than eight
// characters, and upper-cases it; backspace passes; every other typed
// character is dropped.
class HexAddressEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit HexAddressEdit(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// Drops every typed character, backspace included.
class NoTypingEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit NoTypingEdit(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
