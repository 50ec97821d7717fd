#include "cli/options.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "config/image_set_slots.h"
#include "engine/image.h"
#include "engine/session.h"
#include "link/channel.h"
#include "platform/files.h"

namespace cli {
namespace {

// ASCII letters compared without case, as the slot names are written.
bool SameLetters(const std::string& text, const char* name) {
    if (text.size() != std::strlen(name)) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(name[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

bool ParseInt(const std::string& text, int low, int high, int* value) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    *value = v;
    return true;
}

bool ParsePorts(const std::string& list, std::vector<int>* ports, std::string* error) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? comma : comma - start);
        int port = 0;
        if (!ParseInt(item, 1, 255, &port)) {
            *error = "--port takes COM numbers 1..255 separated by commas, not '" + list + "'";
            return false;
        }
        for (int p : *ports) {
            if (p == port) {
                *error = "COM" + std::to_string(port) + " is given twice";
                return false;
            }
        }
        ports->push_back(port);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

// SLOT=PATH[@HEXADDR]
bool ParseImage(const std::string& text, DownloadOptions* options, std::string* error) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
        *error = "--image takes SLOT=PATH[@HEXADDR], not '" + text + "'";
        return false;
    }
    ImageChoice image;
    image.slot = SlotFromText(text.substr(0, eq));
    if (image.slot < 0) {
        *error =
            "unknown image slot '" + text.substr(0, eq) +
            "' (0..11 or Pbl, QcSblHD, MIB1, "
            "MIB2, QcSbl, OemSbl, BootLoader, UsbBoot, Modem, Rsrc1, Rsrc2, FileSys or FactoryFS)";
        return false;
    }
    image.path = text.substr(eq + 1);
    size_t at = image.path.rfind('@');
    uint32_t address = 0;
    if (at != std::string::npos && VARKO_ParseAddress(image.path.c_str() + at + 1, &address)) {
        image.address = image.path.substr(at + 1);
        image.path.resize(at);
    }
    for (const ImageChoice& other : options->images) {
        if (other.slot == image.slot) {
            *error = std::string("slot ") + g_imageNames[image.slot] + " is given twice";
            return false;
        }
    }
    options->images.push_back(image);
    return true;
}

bool TakesValue(const std::string& arg) {
    for (const char* option :
         {"--port", "--image", "--baud", "--delay", "--repeat", "--dir", "--set"})
        if (arg == option) return true;
    return false;
}

// A path that cannot be read and ends in "@text": the text was meant as an
// address but is none.
bool IsFolder(const std::string& path) {
    return platform::IsFolder(path);
}

std::string UnreadableImage(const ImageChoice& image) {
    const size_t at = image.path.rfind('@');
    if (image.address.empty() && at != std::string::npos) {
        return "bad address '" + image.path.substr(at + 1) + "' in " + image.path +
               " (SLOT=PATH@HEXADDR takes a hexadecimal address below 100000000)";
    }
    return "cannot read " + image.path;
}

bool AddressFromTrailer(ImageChoice* image, std::string* error) {
    ImageTrailer trailer;
    if (!VARKO_ProbeTrailer(image->path.c_str(), &trailer)) {
        *error = image->path + " has no trailer: give its address as SLOT=PATH@HEXADDR";
        return false;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%x", trailer.address);
    image->address = text;
    return true;
}

}  // namespace

int SlotFromText(const std::string& text) {
    int slot = -1;
    if (ParseInt(text, 0, kImageSlotCount - 1, &slot)) return slot;
    for (int i = 0; i < kImageSlotCount; ++i) {
        if (SameLetters(text, g_imageNames[i])) return i;
    }
    // The image-set rows' names, as "set show" and the window list them
    // (FactoryFS is the FileSys slot).
    for (const config::RowSlot& row : config::kRowSlots) {
        if (SameLetters(text, ImageSetRowName(row.row))) return row.slot;
    }
    return -1;
}

bool ParseDownload(const std::vector<std::string>& args, DownloadOptions* options,
                   std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--restart" || arg == "--auto") {
            (arg == "--restart" ? options->restart : options->autoPorts) = true;
            continue;
        }
        if (!TakesValue(arg)) {
            *error = arg.rfind('-', 0) == 0 ? "unknown option '" + arg + "'"
                                            : "unexpected argument '" + arg + "'";
            return false;
        }
        if (!hasValue) {
            *error = arg.rfind("--", 0) == 0 ? arg + " needs a value"
                                             : "unexpected argument '" + arg + "'";
            return false;
        }
        const std::string& value = args[++i];
        if (arg == "--port") {
            if (!ParsePorts(value, &options->ports, error)) return false;
        } else if (arg == "--image") {
            if (!ParseImage(value, options, error)) return false;
        } else if (arg == "--baud") {
            if (!ParseInt(value, 50, 100000000, &options->baud)) {
                *error = "--baud takes a rate in bits per second, not '" + value + "'";
                return false;
            }
            options->baudGiven = true;
        } else if (arg == "--delay") {
            if (!ParseInt(value, 0, 1000, &options->delay)) {
                *error = "--delay takes milliseconds 0..1000, not '" + value + "'";
                return false;
            }
            options->delayGiven = true;
        } else if (arg == "--repeat") {
            if (!ParseInt(value, 1, 1000000, &options->repeat)) {
                *error = "--repeat takes a count of sessions, not '" + value + "'";
                return false;
            }
        } else if (arg == "--dir") {
            if (!IsFolder(value)) {
                *error = "--dir: no folder '" + value + "'";
                return false;
            }
            options->dir = value;
        } else {
            options->set = value;
        }
    }
    if (options->ports.size() > static_cast<size_t>(kChannelCount)) {
        *error = "at most 8 ports, one per channel";
        return false;
    }
    if (options->autoPorts && !options->ports.empty()) {
        *error = "give either --port or --auto, not both";
        return false;
    }
    if (!options->set.empty() && !options->images.empty()) {
        *error = "give either --set or --image, not both";
        return false;
    }
    if (options->set.empty() && options->images.empty()) {
        *error = "no image given (--image SLOT=PATH[@HEXADDR] or --set FILE.vrk)";
        return false;
    }
    return true;
}

bool ResolveImages(DownloadOptions* options, std::string* error) {
    bool anyPort = false;
    for (int port : options->ports)
        anyPort = anyPort || port != 0;
    if (!anyPort) {
        *error = "no port given (--port N[,N...], or CH0_PORT..CH7_PORT in Kelvane_3.ini)";
        return false;
    }
    for (ImageChoice& image : options->images) {
        if (!platform::IsReadable(image.path)) {
            *error = UnreadableImage(image);
            return false;
        }
        if (VARKO_CheckImage(image.slot, image.path.c_str(), 0) == ImageCheck::kNotAFile) {
            *error = image.path + " is not a regular file: only files are images";
            return false;
        }
        if (image.address.empty() && !AddressFromTrailer(&image, error)) return false;
        uint32_t address = 0;
        if (VARKO_ParseAddress(image.address.c_str(), &address) &&
            VARKO_CheckImage(image.slot, image.path.c_str(), address) == ImageCheck::kBeyond4GiB) {
            *error = image.path + " at " + image.address +
                     " does not fit below 4 GiB (the flash addresses end at FFFFFFFF)";
            return false;
        }
    }
    return true;
}

}  // namespace cli
