#include "sim/faults.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/options.h"

namespace {

sim::FaultRule Parsed(const std::string& text) {
    sim::FaultRule rule;
    std::string error;
    EXPECT_TRUE(sim::ParseFault(text, &rule, &error)) << text << ": " << error;
    return rule;
}

TEST(SimFaults, ParsesEveryKindWithHandsetPrefixes) {
    struct Case {
        const char* text;
        int handset;
        sim::FaultKind kind;
        uint64_t value;
        uint64_t at;
    };
    const Case cases[] = {
        {"ch2:nak1-every=7", 2, sim::FaultKind::kNakResendEvery, 7, 0},
        {"all:nak-err=5@3", -1, sim::FaultKind::kNakError, 5, 3},
        {"bad-fcs@0x10", -1, sim::FaultKind::kBadFcs, 0, 16},
        {"ch7:bad-slot@1", 7, sim::FaultKind::kBadSlot, 0, 1},
        {"stray@4", -1, sim::FaultKind::kStray, sim::kDefaultStrayCode, 4},
        {"stray=0x44@4", -1, sim::FaultKind::kStray, 0x44, 4},
        {"ch0:drop@9", 0, sim::FaultKind::kDrop, 0, 9},
        {"slow-erase=250", -1, sim::FaultKind::kSlowErase, 250, 0},
        {"mute-unlock", -1, sim::FaultKind::kMuteUnlock, 0, 0},
        {"mute-unlock=2", -1, sim::FaultKind::kMuteUnlock, 2, 0},
        {"hangup=100", -1, sim::FaultKind::kHangUp, 100, 0},
        {"info", -1, sim::FaultKind::kTargetInfo, 0, 0},
        {"ch1:info@2", 1, sim::FaultKind::kTargetInfo, 0, 2},
    };
    for (const Case& c : cases) {
        const sim::FaultRule rule = Parsed(c.text);
        EXPECT_EQ(rule.handset, c.handset) << c.text;
        EXPECT_EQ(rule.fault.kind, c.kind) << c.text;
        EXPECT_EQ(rule.fault.value, c.value) << c.text;
        EXPECT_EQ(rule.fault.at, c.at) << c.text;
    }
}

TEST(SimFaults, RejectsMalformedRulesWithAReason) {
    for (const char* text : {"",
                             "bogus",
                             "ch8:drop@1",
                             "chx:drop@1",
                             "com1:drop@1",
                             "drop",
                             "drop@0",
                             "drop@x",
                             "drop=3@1",
                             "nak1-every",
                             "nak1-every=0",
                             "nak1-every=3@2",
                             "nak-err=5",
                             "nak-err=256@1",
                             "stray=2@1",
                             "stray=0x70@1",
                             "stray=0x100@1",
                             "slow-erase",
                             "hangup=0",
                             "hangup=-1",
                             "info=3",
                             "mute-unlock@2",
                             "nak-err=5@1x",
                             "drop@ 1",
                             "every0:drop@1",
                             "hx:drop@1",
                             "h2:every3:drop@1",
                             "ch1:ch2:drop@1"}) {
        sim::FaultRule rule;
        std::string error;
        EXPECT_FALSE(sim::ParseFault(text, &rule, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(error.find('\n'), std::string::npos) << text;
    }
}

TEST(SimFaults, HandsetNumberPrefixesPickHandsetsOfEachChannel) {
    const std::pair<const char*, const char*> cases[] = {{"every3:drop@1", "0:3 1:3 "},
                                                         {"ch1:every2:drop@1", "1:2 1:4 "},
                                                         {"h4:ch0:drop@1", "0:4 "}};
    for (const auto& [text, expected] : cases) {
        const sim::FaultRule rule = Parsed(text);
        std::string hits;
        for (int k = 0; k < 2; ++k) {
            for (uint64_t n = 1; n <= 4; ++n) {
                if (sim::AppliesTo(rule, k, n))
                    hits += std::to_string(k) + ":" + std::to_string(n) + " ";
            }
        }
        EXPECT_EQ(hits, expected) << text;
    }
}

TEST(SimFaults, EveryAndAtCountDataPackets) {
    const sim::Fault every{sim::FaultKind::kNakResendEvery, 3, 0};
    const sim::Fault at{sim::FaultKind::kDrop, 0, 5};
    const sim::Fault slow{sim::FaultKind::kSlowErase, 10, 0};
    std::vector<uint64_t> everyFired, atFired;
    for (uint64_t n = 1; n <= 10; ++n) {
        if (sim::FiresAt(every, n)) everyFired.push_back(n);
        if (sim::FiresAt(at, n)) atFired.push_back(n);
        EXPECT_FALSE(sim::FiresAt(slow, n));
    }
    EXPECT_EQ(everyFired, (std::vector<uint64_t>{3, 6, 9}));
    EXPECT_EQ(atFired, (std::vector<uint64_t>{5}));
}

sim::CommandLine Parse(std::vector<const char*> args, sim::SimOptions* options,
                       std::string* error) {
    args.insert(args.begin(), "kelvane-sim");
    return sim::ParseCommandLine(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(SimOptions, CommandLineFillsTheOptions) {
    sim::SimOptions options;
    std::string error;
    ASSERT_EQ(Parse({"--channels=4", "--first-port", "3", "--dir", "/tmp/x", "--baud", "0x151800",
                     "--erase-ms-per-4k", "2", "--fault", "ch1:drop@2", "--fault", "nak1-every=5",
                     "--dump-on-exit", "--out=/tmp/y", "--flash-size", "0x100000"},
                    &options, &error),
              sim::CommandLine::kRun)
        << error;
    EXPECT_EQ(options.channels, 4);
    EXPECT_EQ(options.firstPort, 3);
    EXPECT_EQ(options.dir, "/tmp/x");
    EXPECT_EQ(options.outDir, "/tmp/y");
    EXPECT_EQ(options.baud, 1382400u);
    EXPECT_EQ(options.eraseMsPer4k, 2u);
    EXPECT_EQ(options.flashSize, 0x100000u);
    EXPECT_TRUE(options.dumpOnExit);
    ASSERT_EQ(options.faults.size(), 2u);
    EXPECT_EQ(options.faults[0].handset, 1);
    EXPECT_EQ(options.faults[1].fault.kind, sim::FaultKind::kNakResendEvery);
    sim::SimOptions swap;
    ASSERT_EQ(Parse({"--swap", "--swap-ms=50", "--leave-ms", "2500", "--handsets", "3", "--fault",
                     "h3:drop@1"},
                    &swap, &error),
              sim::CommandLine::kRun)
        << error;
    EXPECT_TRUE(swap.swap && swap.swapMs == 50 && swap.leaveMs == 2500 && swap.handsets == 3);
    EXPECT_FALSE(options.swap || options.handsets != 0 || options.swapMs != 1000 ||
                 options.leaveMs != 0);
    sim::SimOptions help;
    EXPECT_EQ(Parse({"--channels", "2", "--help"}, &help, &error), sim::CommandLine::kHelp);
}

TEST(SimOptions, BadValuesGiveOneLineErrors) {
    const std::vector<std::vector<const char*>> bad = {
        {"--channels", "9"},
        {"--channels", "0"},
        {"--channels"},
        {"--baud", "fast"},
        {"--first-port", "0"},
        {"--bogus"},
        {"--fault", "drop"},
        {"--channels", "2", "--fault", "ch2:drop@1"},
        {"--dir="},
        {"--erase-ms-per-4k", "-1"},
        {"--flash-size", "0"},
        {"--handsets", "2"},
        {"--swap-ms", "5"},
        {"--leave-ms", "5"},
        {"--swap", "--leave-ms", "3600001"},
        {"--swap", "--handsets", "1000001"},
        {"--swap", "--handsets", "2", "--fault", "h3:drop@1"},
        {"--fault", "every2:drop@1"},
    };
    for (const auto& args : bad) {
        sim::SimOptions options;
        std::string error;
        EXPECT_EQ(Parse(args, &options, &error), sim::CommandLine::kError) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

}  // namespace
