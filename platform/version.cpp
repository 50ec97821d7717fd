#include "platform/version.h"

#include <cstdio>
#include <cstring>

#include "kelvane_revision.h"  // generated at every build: KELVANE_VERSION, KELVANE_COMMIT

namespace platform {

const char* VersionNumber() {
    return KELVANE_VERSION;
}

std::string VersionLine(const std::string& program) {
    std::string line = program + " " + KELVANE_VERSION;
    if (std::strlen(KELVANE_COMMIT) > 0) line += std::string(" (commit ") + KELVANE_COMMIT + ")";
    return line;
}

bool AnswerStandardOption(int argc, const char* const* argv, const std::string& program,
                          const char* usage) {
    if (argc < 2) return false;
    const std::string option = argv[1];
    if (option == "--version") {
        std::printf("%s\n", VersionLine(program).c_str());
        return true;
    }
    if (usage != nullptr && (option == "--help" || option == "-h")) {
        std::fputs(usage, stdout);
        return true;
    }
    return false;
}

}  // namespace platform
