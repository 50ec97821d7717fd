// kelvane-cli make-image: a test image of pseudo-random data ending in a
// trailer, for trying a station without real firmware.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "cli/commands.h"
#include "engine/image.h"
#include "engine/session.h"
#include "platform/console_text.h"
#include "platform/file_replace.h"
#include "platform/files.h"

namespace cli {
namespace {

struct MakeImageOptions {
    std::string path;
    uint64_t size = 0;
    std::string address;
    std::string kind = "TEST";
    std::string type = "bin";
    unsigned seed = 1;
    bool trailer = true;
    bool force = false;  // an existing file may be replaced
};

int Usage(const std::string& reason) {
    platform::PrintText(stderr, "kelvane-cli make-image: %s\n", reason.c_str());
    return 2;
}

// 64-bit throughout: long has 32 bits on Windows.
bool ParseSize(const std::string& text, uint64_t* size) {
    char* end = nullptr;
    const uint64_t value = std::strtoull(text.c_str(), &end, 10);
    uint64_t unit = 1;
    if (end != nullptr && (*end == 'K' || *end == 'k')) unit = 1024, ++end;
    if (end != nullptr && (*end == 'M' || *end == 'm')) unit = 1024 * 1024, ++end;
    if (end == text.c_str() || *end != '\0' || value > (uint64_t{1} << 32) / unit) return false;
    *size = value * unit;
    return true;
}

bool Parse(const std::vector<std::string>& args, MakeImageOptions* o, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--no-trailer") {
            o->trailer = false;
        } else if (arg == "--force") {
            o->force = true;
        } else if (arg.rfind("--", 0) == 0 && i + 1 < args.size()) {
            const std::string& v = args[++i];
            if (arg == "--size" && ParseSize(v, &o->size)) continue;
            if (arg == "--address")
                o->address = v;
            else if (arg == "--kind")
                o->kind = v.substr(0, 31);
            else if (arg == "--type")
                o->type = v.substr(0, 31);
            else if (arg == "--seed")
                o->seed = static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 10));
            else {
                *error = "bad option " + arg + " " + v;
                return false;
            }
        } else if (o->path.empty() && arg.rfind("--", 0) != 0) {
            o->path = arg;
        } else {
            *error = "unexpected argument '" + arg + "'";
            return false;
        }
    }
    uint32_t address = 0;
    if (o->path.empty())
        *error = "no output file given";
    else if (o->trailer && !VARKO_ParseAddress(o->address.c_str(), &address))
        *error = "--address takes a hexadecimal flash address";
    return error->empty();
}

}  // namespace

int RunMakeImageCommand(const std::vector<std::string>& args) {
    MakeImageOptions o;
    std::string error;
    if (!Parse(args, &o, &error)) return Usage(error);
    // Checked before the data is made; the file is then replaced whole (a
    // FIFO or device put there meanwhile is replaced, never written into).
    const platform::FileKind kind = platform::KindOfFile(o.path.c_str(), nullptr);
    if (kind == platform::FileKind::kOther)
        return Usage(o.path + " is not a regular file: only files are written");
    if (kind == platform::FileKind::kRegular && !o.force)
        return Usage(o.path + " exists: give --force to overwrite it");
    std::string data(o.size, '\0');
    std::mt19937 random(o.seed);
    for (auto& b : data)
        b = static_cast<char>(random());
    if (o.trailer) {
        ImageTrailer trailer{};
        trailer.magic = kTrailerMagic;
        VARKO_ParseAddress(o.address.c_str(), &trailer.address);
        std::memcpy(trailer.kind, o.kind.c_str(), o.kind.size());
        std::memcpy(trailer.type, o.type.c_str(), o.type.size());
        data.append(reinterpret_cast<const char*>(&trailer), sizeof trailer);
    }
    const std::string target = platform::FollowLinks(o.path);
    if (target.empty() || !platform::ReplaceFileAtomically(target, data)) {
        platform::PrintText(stderr, "kelvane-cli make-image: writing %s failed\n", o.path.c_str());
        return 1;
    }
    return 0;
}

}  // namespace cli
