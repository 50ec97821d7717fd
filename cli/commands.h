// The subcommands of kelvane-cli. Each returns the process exit status:
// 0 done, 1 failed, 2 bad arguments (after a one-line reason on stderr).
#pragma once

#include <string>
#include <vector>

namespace cli {

int RunDownloadCommand(const std::vector<std::string>& args);
int RunStationCommand(const std::vector<std::string>& args);
int RunTrailerCommand(const std::vector<std::string>& args);
int RunMakeImageCommand(const std::vector<std::string>& args);
int RunSetCommand(const std::vector<std::string>& args);
int RunPortsCommand(const std::vector<std::string>& args);
int RunUdevRuleCommand(const std::vector<std::string>& args);
int RunRecordsCommand(const std::vector<std::string>& args);

}  // namespace cli
