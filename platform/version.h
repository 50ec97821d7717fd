// The version every program reports: the project's version and, when it was
// built from a git checkout, the commit it was built from.
#pragma once

#include <string>

namespace platform {

// The project's version alone ("3.0").
const char* VersionNumber();

// "kelvane-cli 3.0 (commit 0404c3e1a2b3)"; without the commit part when the
// build did not come from a checkout.
std::string VersionLine(const std::string& program);

// For the start of a program's main: when the first argument is --version,
// prints the version line on standard output and returns true. With a usage
// text, --help and -h print that text the same way.
bool AnswerStandardOption(int argc, const char* const* argv, const std::string& program,
                          const char* usage = nullptr);

}  // namespace platform
