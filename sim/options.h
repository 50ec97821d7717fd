// The command line of kelvane-sim.
#pragma once

#include <string>

#include "sim/simulator.h"

namespace sim {

enum class CommandLine { kRun, kHelp, kError };

// Fills *options from argv; kError with a one-line *error for a bad option.
// Options take their value as the next word or after '=' (--channels=4).
CommandLine ParseCommandLine(int argc, const char* const* argv, SimOptions* options,
                             std::string* error);

std::string UsageText();

}  // namespace sim
