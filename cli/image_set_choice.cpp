#include "cli/image_set_choice.h"

#include <sys/stat.h>

#include <cstdio>

namespace cli {
namespace {

struct RowInfo {
    ImageSetRow row;
    int slot;  // -1: never downloaded
    const char* name;
    const char* message;
};

// The rows the Download command reads, in the order it checks them.
constexpr RowInfo kRows[] = {
    {kRowCode, 8, "Modem", "Invalid Modem Image/Address !"},
    {kRowFont, 9, "Rsrc1", "Invalid Rsrc1 Image/Address !"},
    {kRowData, 10, "Rsrc2", "Invalid Rsrc2 Image/Address !"},
    {kRowEtc1, 11, "FactoryFS", "Invalid FileSys Image/Address !"},
    {kRowEtc2, -1, "FOTA", nullptr},
};

bool Exists(const char* path) {
    struct stat info {};
    return path[0] != '\0' && ::stat(path, &info) == 0;
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
    // a file takes the Modem, Rsrc1, Rsrc2 and FactoryFS rows only.
    for (const RowInfo& info : kRows) {
        const ImageSetSlot& row = set.rows[info.row];
        if (row.check == 0 || info.slot < 0) continue;
        if (row.file[0] == '\0' || row.address[0] == '\0') {
            *error = info.message;
            return false;
        }
        images->push_back(ImageChoice{info.slot, row.file, row.address});
    }
    if (images->empty()) {
        *error = "Select Image !";
        return false;
    }
    return true;
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
    for (const RowInfo& info : kRows) {
        const ImageSetSlot& row = set.rows[info.row];
        const bool shown = row.file[0] != '\0' && Exists(row.file);
        lines.push_back(
            RowLine(info.name, shown && row.check != 0, row.kind, row.file, row.address));
    }
    return lines;
}

}  // namespace cli
