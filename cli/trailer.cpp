// kelvane-cli trailer: what each image file says about itself.
#include <cstdio>

#include "cli/commands.h"
#include "engine/crc32.h"
#include "engine/image.h"
#include "platform/console_text.h"

namespace cli {

int RunTrailerCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        platform::PrintText(stderr, "kelvane-cli trailer: no file given\n");
        return 2;
    }
    int status = 0;
    for (const std::string& path : args) {
        uint32_t crc = 0;
        if (!VARKO_FileCrc32(path.c_str(), &crc)) {
            platform::PrintText(stdout, "%s: cannot read\n", path.c_str());
            status = 1;
            continue;
        }
        ImageTrailer trailer;
        if (VARKO_ProbeTrailer(path.c_str(), &trailer)) {
            platform::PrintText(stdout, "%s: address %x, kind \"%s\", type \"%s\", crc32 %x\n",
                                path.c_str(), trailer.address, trailer.kind, trailer.type, crc);
        } else {
            platform::PrintText(stdout, "%s: no trailer, crc32 %x\n", path.c_str(), crc);
        }
    }
    return status;
}

}  // namespace cli
