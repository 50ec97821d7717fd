// One station record: what one channel of one download session wrote into
// its handset, where, when and with what result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace records {

// A channel's result until it ends: a record left so by a crash or a power
// cut keeps it.
inline constexpr const char* kInterrupted = "interrupted";

// How the channel's run came about: one channel of a download session, or one
// attempt of a station slot on the handset that arrived on it.
inline constexpr const char* kSessionMode = "session";
inline constexpr const char* kStationMode = "station";

struct ImageRecord {
    std::string slot;        // slot name: "Modem", "Rsrc1", ...
    std::string path;        // the image file
    int64_t size = -1;       // the file's size in bytes, -1 when it could not be read
    std::string crc32;       // CRC-32 of the whole file, lower-case hex; "" when unreadable
    std::string address;     // flash address, lower-case hex
    std::string resultLine;  // the channel's line for this image
};

struct ChannelRecord {
    std::string id;            // unique over every station (the server's key)
    std::string station;       // the station's name
    std::string sessionStart;  // UTC, ISO 8601 with milliseconds
    std::string channelStart;
    std::string channelEnd;  // "" until the channel ends
    int channel = 0;
    int comPort = 0;
    std::string device;       // device path of the port
    std::string usbLocation;  // ID_PATH, "" when unknown
    std::string usbSerial;    // ID_SERIAL_SHORT, "" when unknown
    std::string imageSet;     // image-set file, "" when the images were given otherwise
    std::vector<ImageRecord> images;
    std::string result = kInterrupted;  // completed, failed, stopped, interrupted
    std::string lastText;               // the channel's last line
    std::string version;                // Kelvane's version
    int64_t revision = 0;               // changes written so far (the server keeps the newest)
    std::string mode = kSessionMode;    // kSessionMode or kStationMode
    int attempt = 0;                    // 0: the first try on this handset; 1, 2, ...: retries
};

// Now, UTC, ISO 8601 with milliseconds: "2026-12-08T09:30:00.123Z".
std::string UtcNow();

// A fresh record id: 32 random hexadecimal digits.
std::string NewRecordId();

// text with every byte that is not part of valid UTF-8 replaced by U+FFFD
// (paths may hold any bytes; the server and JSON take only UTF-8).
std::string ValidUtf8(const std::string& text);

// Kelvane's version ("3.0").
const char* KelvaneVersion();

}  // namespace records
