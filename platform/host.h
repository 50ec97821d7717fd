// The station's own name as the system knows it.
#pragma once

#include <string>

namespace platform {

// The host name ("" when the system gives none).
std::string HostName();

}  // namespace platform
