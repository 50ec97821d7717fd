// The flash dump of a handset: <dir>/<name>.bin holds its ranges concatenated
// in address order, <dir>/<name>.idx one line per range: address, length and
// CRC-32, each as eight hexadecimal digits. Each file is replaced atomically;
// the folder is created when missing.
#pragma once

#include <string>

#include "sim/flash_model.h"

namespace sim {

// name is ch<k>, or the handset's serial when handsets come and go.
bool WriteDump(const std::string& dir, const std::string& name, const FlashModel& flash,
               std::string* error);

// "AAAAAAAA LLLLLLLL CCCCCCCC\n" per range.
std::string IndexText(const FlashModel& flash);

}  // namespace sim
