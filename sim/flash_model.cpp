#include "sim/flash_model.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "sim/crc32.h"

namespace sim {

void FlashModel::Erase(uint32_t address, size_t length) {
    Place(address, nullptr, length);
    if (length == 0) return;
    uint64_t begin = address, end = begin + length;
    auto it = erased_.upper_bound(begin);
    if (it != erased_.begin() && std::prev(it)->second >= begin) --it;
    while (it != erased_.end() && it->first <= end) {
        begin = std::min(begin, it->first);
        end = std::max(end, it->second);
        it = erased_.erase(it);
    }
    erased_.emplace(begin, end);
}

bool FlashModel::Erased(uint32_t address, size_t length) const {
    if (length == 0) return true;
    auto it = erased_.upper_bound(address);
    if (it == erased_.begin()) return false;
    return std::prev(it)->second >= uint64_t{address} + length;
}

void FlashModel::Write(uint32_t address, const uint8_t* data, size_t length) {
    Place(address, data, length);
}

void FlashModel::Place(uint32_t address, const uint8_t* data, size_t length) {
    if (length == 0) return;
    const uint64_t begin = address;
    const uint64_t end = begin + length;
    // The range that starts at or before begin and reaches it grows in place,
    // so sequential writes append instead of copying the whole range.
    auto node = ranges_.upper_bound(address);
    if (node != ranges_.begin()) {
        auto prev = std::prev(node);
        if (prev->first + prev->second.size() >= begin) node = prev;
    }
    if (node == ranges_.end() || node->first > begin) node = ranges_.emplace(address, 0).first;
    std::vector<uint8_t>& bytes = node->second;
    const uint64_t start = node->first;
    if (start + bytes.size() < end) bytes.resize(end - start);
    uint8_t* target = bytes.data() + (begin - start);
    if (data != nullptr) {
        std::memcpy(target, data, length);
    } else {
        std::memset(target, 0xFF, length);
    }
    // Absorb the ranges that now overlap or touch; the new bytes win.
    auto next = std::next(node);
    while (next != ranges_.end() && next->first <= start + bytes.size()) {
        const uint64_t nextEnd = next->first + next->second.size();
        if (nextEnd > start + bytes.size()) {
            const size_t skip = start + bytes.size() - next->first;
            bytes.insert(bytes.end(), next->second.begin() + static_cast<std::ptrdiff_t>(skip),
                         next->second.end());
        }
        next = ranges_.erase(next);
    }
}

std::vector<FlashRange> FlashModel::Ranges() const {
    std::vector<FlashRange> out;
    for (const auto& [address, bytes] : ranges_) {
        out.push_back(
            {address, static_cast<uint32_t>(bytes.size()), Crc32(bytes.data(), bytes.size())});
    }
    return out;
}

bool FlashModel::Read(uint32_t address, size_t length, std::vector<uint8_t>* out) const {
    auto it = ranges_.upper_bound(address);
    if (it == ranges_.begin()) return false;
    --it;
    const uint64_t offset = address - it->first;
    if (offset + length > it->second.size()) return false;
    const auto from = it->second.begin() + static_cast<std::ptrdiff_t>(offset);
    out->assign(from, from + static_cast<std::ptrdiff_t>(length));
    return true;
}

std::vector<uint8_t> FlashModel::Concatenated() const {
    std::vector<uint8_t> out;
    out.reserve(ByteCount());
    for (const auto& entry : ranges_)
        out.insert(out.end(), entry.second.begin(), entry.second.end());
    return out;
}

uint64_t FlashModel::ByteCount() const {
    uint64_t total = 0;
    for (const auto& entry : ranges_)
        total += entry.second.size();
    return total;
}

}  // namespace sim
