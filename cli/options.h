// Command-line options of kelvane-cli, parsed without side effects so that
// every mistake is found before anything is sent.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct ImageChoice {
    int slot = -1;
    std::string path;
    std::string address;  // hexadecimal text; empty: take it from the trailer
};

struct DownloadOptions {
    std::vector<int> ports;  // COM numbers, channel 0 first; 0 leaves a channel out
    std::vector<ImageChoice> images;
    int baud = 1382400;
    bool baudGiven = false;
    int delay = 2;
    bool delayGiven = false;
    bool restart = false;
    int repeat = 1;          // sessions back to back (burn-in, soak)
    bool autoPorts = false;  // channels from a port search
    std::string dir;         // start folder (settings, port map); empty: the current one
    std::string set;         // image-set file to download from instead of --image
};

// The slot named by a number (0..11), a slot name ("Modem", "rsrc1") or an
// image-set row's name ("FactoryFS"); -1 when none.
int SlotFromText(const std::string& text);

// Parses the arguments after "download"; false with a one-line reason.
bool ParseDownload(const std::vector<std::string>& args, DownloadOptions* options,
                   std::string* error);

// Checks what can be checked before a session starts and fills addresses
// from the trailers; false with a one-line reason.
bool ResolveImages(DownloadOptions* options, std::string* error);

}  // namespace cli
