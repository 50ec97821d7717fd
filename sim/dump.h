// The flash dump of a handset: <dir>/ch<k>.bin holds its ranges concatenated
// in address order, <dir>/ch<k>.idx one line per range: address, length and
// CRC-32, each as eight hexadecimal digits. Each file is replaced atomically;
// the folder is created when missing.
#pragma once

#include <string>

#include "sim/flash_model.h"

namespace sim {

bool WriteDump(const std::string& dir, int index, const FlashModel& flash, std::string* error);

// "AAAAAAAA LLLLLLLL CCCCCCCC\n" per range.
std::string IndexText(const FlashModel& flash);

}  // namespace sim
