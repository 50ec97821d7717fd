// Port search for the command line: the handset ports of a serial-port list.
#pragma once

#include <vector>

#include "platform/serial_ports.h"

namespace cli {

// The COM numbers of the handset ports in list order, each once, at most
// one per channel.
std::vector<int> SearchHandsetPorts(platform::SerialPortSource& source);

}  // namespace cli
