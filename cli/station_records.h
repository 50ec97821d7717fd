// The station records as kelvane-cli uses them: kept for every session while
// a StationRecords lives, and read back by "kelvane-cli records". A build
// without the records library (Windows, for now) keeps none and says so.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cli {

class StationRecords {
public:
    // imageSetFile names the image-set file of the session starting.
    explicit StationRecords(std::function<std::string()> imageSetFile);
    ~StationRecords();
    StationRecords(const StationRecords&) = delete;
    StationRecords& operator=(const StationRecords&) = delete;

private:
    struct Keeper;
    std::unique_ptr<Keeper> keeper_;
};

}  // namespace cli
