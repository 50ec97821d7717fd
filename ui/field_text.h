// Moving texts between the controls and the fixed text fields of the
// settings and the image set. Fields are UTF-8 bytes, as file names are.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace ui {

template <size_t N>
std::string FieldBytes(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Copies bytes into field; false, and the field unchanged, when they do not
// fit: a path or an address cut short would name something else.
template <size_t N>
bool CopyToField(const std::string& bytes, char (&field)[N]) {
    if (bytes.size() >= N || bytes.find('\0') != std::string::npos) return false;
    std::memcpy(field, bytes.data(), bytes.size());
    field[bytes.size()] = '\0';
    return true;
}

}  // namespace ui
