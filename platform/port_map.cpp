#include "platform/port_map.h"

#include <filesystem>
#include <mutex>

#include "platform/ini.h"
#include "platform/path.h"

namespace platform {
namespace {

std::mutex g_folderMutex;
std::string g_folder;

}  // namespace

void PortMap_SetDirectory(const std::string& folder) {
    std::lock_guard<std::mutex> lock(g_folderMutex);
    g_folder = folder;
}

std::string PortMap_File() {
    std::lock_guard<std::mutex> lock(g_folderMutex);
    if (g_folder.empty()) {
        std::error_code ec;
        g_folder = PathText(std::filesystem::current_path(ec));
        if (ec) g_folder = ".";
    }
    return JoinPath(g_folder, kPortMapFileName);
}

std::string PortMap_DevicePath(int comNumber) {
    if (comNumber < 1) return "";
    std::string key = "COM" + std::to_string(comNumber);
    char path[1024];
    IniReadString(kPortMapSection, key.c_str(), "", path, sizeof path, PortMap_File().c_str());
    if (path[0] != '\0') return path;
    return "/dev/ttyS" + std::to_string(comNumber - 1);
}

}  // namespace platform
