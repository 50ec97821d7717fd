#include "cli/image_set_choice.h"

#include <cstdio>

#include "config/image_set_slots.h"
#include "platform/files.h"

namespace cli {
namespace {

bool Exists(const char* path) {
    return path[0] != '\0' && platform::PathExists(path);
}

std::string RowLine(const char* name, bool ticked, const char* kind, const char* path,
                    const char* address) {
    char line[1024];
    std::snprintf(line, sizeof line, "%-9s [%c] kind %-10s address %-8s %s%s", name,
                  ticked ? 'x' : ' ', kind[0] ? kind : "-", address[0] ? address : "-",
                  path[0] ? path : "-", path[0] && !Exists(path) ? "  (missing)" : "");
    return line;
}

}  // namespace

bool ChooseFromImageSet(const ImageSet& set, std::vector<ImageChoice>* images, std::string* error) {
    const std::vector<std::string> missing = MissingTickedFiles(set);
    if (!missing.empty()) {
        *error = JoinLines(missing);
        return false;
    }
    // Loading a set leaves the Boot and Usb rows unticked, so a download from
    // a file takes the Modem, Rsrc1, Rsrc2 and FactoryFS rows only, each with
    // the set's own address.
    config::SlotChoice choice;
    for (int row = 0; row < kImageSetRowCount; ++row)
        choice.rows[row] = set.rows[row].check != 0;
    ImageSet copy = set;
    const char* message =
        config::PlaceImageSetSlots(copy, choice, [images](const config::SlotImage& image) {
            images->push_back(ImageChoice{image.slot, image.path, image.address});
            return true;
        });
    if (message == nullptr) return true;
    *error = message;
    return false;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines)
        joined += (joined.empty() ? "" : "; ") + line;
    return joined;
}

std::vector<std::string> DescribeImageSet(const ImageSet& set) {
    std::vector<std::string> lines;
    const char* type = set.MTY == kModemTypeBootLoader  ? "0 (single boot loader)"
                       : set.MTY == kModemTypeBootChain ? "2 (six-file boot chain)"
                                                        : "none of the two platforms";
    lines.push_back(std::string("modem type ") + type);
    if (set.MTY == kModemTypeBootChain) {
        lines.push_back(RowLine("Boot", false, set.BOOTKIND, set.BOOTFILE, ""));
        for (const BootChainEntry& entry : set.bootChain) {
            lines.push_back(RowLine("  chain", false, "", entry.path, entry.address));
        }
    } else {
        lines.push_back(RowLine("Boot", false, set.BOOTKIND, set.BOOTLOADERFILE, set.BOOTADDRESS));
    }
    lines.push_back(RowLine("Usb", false, set.USBKIND, set.USBFILE, set.USBADDRESS));
    // A ticked row stays ticked when its file is missing: it is marked
    // "(missing)", and download --set refuses the set for it.
    for (int r = 0; r < kImageSetRowCount; ++r) {
        const ImageSetSlot& row = set.rows[r];
        lines.push_back(
            RowLine(ImageSetRowName(r), row.check != 0, row.kind, row.file, row.address));
    }
    return lines;
}

}  // namespace cli
