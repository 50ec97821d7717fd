// What users of command-line tools look for first: every program names its
// version (and the commit it was built from) with --version, even without a
// display; --help lists the commands and options; the bash completion of
// kelvane-cli offers every command and option the help lists.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

struct Output {
    int status = -1;
    std::string text;
};

// Runs a shell command line, bounded by timeout(1); stdout only.
Output RunShell(const std::string& command) {
    Output out;
    FILE* pipe = ::popen(("timeout 60 " + command).c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.text.append(buffer, n);
    const int status = ::pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::vector<std::string> Programs() {
    std::vector<std::string> programs{KELVANE_CLI_PATH, KELVANE_SIM_PATH};
    if (std::string(KELVANE_WINDOW_PATH).size() > 0) programs.push_back(KELVANE_WINDOW_PATH);
    return programs;
}

std::string BaseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::set<std::string> Matches(const std::string& text, const std::regex& pattern) {
    std::set<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it)
        found.insert((*it)[1].str());
    return found;
}

// The words the completion offers for the command line `kelvane-cli WORDS...`
// with the cursor on the last word; bash-completion's helpers are stood in
// by tests/packaging/complete.sh.
std::set<std::string> Complete(const std::string& words) {
    const Output out =
        RunShell("bash " KELVANE_TEST_DIR "/complete.sh " KELVANE_COMPLETION " " + words);
    EXPECT_EQ(out.status, 0) << words;
    return Matches(out.text, std::regex("([^\n]+)\n"));
}

// The --help text of kelvane-cli cut at its commands: command -> text.
std::vector<std::pair<std::string, std::string>> CliCommands(const std::string& help) {
    std::vector<std::pair<std::string, std::string>> commands;
    const std::regex start("^  ([a-z][a-z-]*)");
    size_t lineStart = 0;
    while (lineStart < help.size()) {
        size_t end = help.find('\n', lineStart);
        if (end == std::string::npos) end = help.size();
        const std::string line = help.substr(lineStart, end - lineStart);
        std::smatch match;
        if (std::regex_search(line, match, start)) {
            if (commands.empty() || commands.back().first != match[1].str())
                commands.emplace_back(match[1].str(), "");
        }
        if (!commands.empty()) commands.back().second += line + "\n";
        lineStart = end + 1;
    }
    return commands;
}

TEST(ProgramsTest, VersionNamesTheProjectVersionAndCommitWithoutADisplay) {
    const bool checkout = RunShell("git -C " KELVANE_SOURCE_DIR " rev-parse HEAD").status == 0;
    const std::regex line("(kelvane[a-z-]*) ([0-9.]+)( \\(commit ([0-9a-f]{12})(-dirty)?\\))?\n");
    for (const std::string& program : Programs()) {
        // No display at all: the window must answer before it sets up Qt.
        const Output out = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                    program + " --version");
        EXPECT_EQ(out.status, 0) << program;
        std::smatch match;
        ASSERT_TRUE(std::regex_match(out.text, match, line)) << out.text;
        EXPECT_EQ(match[1].str(), BaseName(program));
        EXPECT_EQ(match[2].str(), KELVANE_VERSION_TEXT);
        // Built from a checkout: the commit is one of this tree's (the tests
        // may run after later commits, so not necessarily the newest).
        EXPECT_EQ(match[3].matched, checkout) << out.text;
        if (checkout) {
            EXPECT_EQ(RunShell("git -C " KELVANE_SOURCE_DIR " cat-file -e " + match[4].str() +
                               "^{commit}")
                          .status,
                      0)
                << out.text;
        }
    }
}

TEST(ProgramsTest, HelpListsEveryCommandAndTheCompletionOffersThem) {
    for (const std::string& program : Programs()) {
        const Output out = RunShell(program + " --help");
        EXPECT_EQ(out.status, 0) << program;
        EXPECT_EQ(out.text.rfind("Usage: " + BaseName(program), 0), 0u) << out.text;
        EXPECT_NE(out.text.find("--version"), std::string::npos) << program;
    }

    const Output help = RunShell(KELVANE_CLI_PATH " --help");
    const auto commands = CliCommands(help.text);
    ASSERT_GE(commands.size(), 6u) << help.text;
    const std::set<std::string> offered = Complete("''");
    for (const auto& [command, text] : commands) {
        // Each listed command is one the program knows...
        const Output run =
            RunShell(std::string(KELVANE_CLI_PATH " ") + command + " --no-such-option 2>&1");
        EXPECT_NE(run.status, 0) << command;
        EXPECT_EQ(run.text.find("unknown command"), std::string::npos) << command;
        // ...offered first, and with every option its help names.
        EXPECT_EQ(offered.count(command), 1u) << command;
        const std::set<std::string> options = Matches(text, std::regex("(--[a-z][a-z-]*)"));
        const std::set<std::string> completed = Complete(command + " --");
        for (const std::string& option : options)
            EXPECT_EQ(completed.count(option), 1u) << command << " " << option;
    }
    EXPECT_EQ(offered.count("--version"), 1u);
    EXPECT_EQ(offered.count("--help"), 1u);
}

}  // namespace
