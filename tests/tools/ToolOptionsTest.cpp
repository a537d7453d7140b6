// The tools' one command-line layer: the table parser in-process, and every tool
// run as a child process to show that the same mistake gets the same words.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Version.h"
#include "support/ChildProcess.h"

namespace {

// Runs `line` over the words as a command line.
std::optional<int> ParseWords(const TCommandLine& line, std::vector<std::string> words)
{
    words.insert(words.begin(), "tool");
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    return line.Parse(static_cast<int>(argv.size()), argv.data());
}

struct TToolRun {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

TToolRun RunTool(const std::string& exe, std::vector<std::string> args)
{
    args.insert(args.begin(), exe);
    TChild child(args);
    TToolRun run;
    run.Exit = child.WaitExit(5000);
    run.Out = child.OutText;
    run.Err = child.ErrText;
    return run;
}

struct TTool {
    std::string Exe;
    std::string Name;
    std::string NumberOption; // an option whose value is a number
};

std::vector<TTool> Tools()
{
    std::vector<TTool> tools = {
        {TCM_CAN_DUMP_EXE, "tarvenix-can-dump", "--frames"},
        {TCM_SEEED_SIM_EXE, "tarvenix-seeed-sim", "--fps"},
        {TCM_SLCAN_EXE, "tarvenix-slcan", "--rate"},
    };
#ifdef TCM_EXTCAP_EXE
    tools.push_back({TCM_EXTCAP_EXE, "tarvenix-extcap", "--rate"});
#endif
    return tools;
}

} // namespace

TEST(CommandLine, ReadsTheTableOfEntries)
{
    bool log = false;
    std::string name;
    double share = 0;
    uint32_t count = 0;
    std::vector<std::string> optional;
    TCommandLine line("tool", [](std::FILE*) {});
    line.Add({SwitchOption("--log", log),
              TextOption("--name", name),
              RealOption("--share", 0, 1, share, "0 to 1"),
              CountOption("--count", 1, 0xFFFFFFFFu, count, ""),
              {"--opt", TOptionValue::Optional, [&optional](const std::string& value) {
                   optional.push_back(value);
                   return std::string();
               }}});

    EXPECT_EQ(ParseWords(line, {"--log", "--name=a=b", "--share", "0.5", "--count=4294967295", "--opt", "--opt=x",
                                "--opt", "y"}),
              std::nullopt);
    EXPECT_TRUE(log);
    EXPECT_EQ(name, "a=b");
    EXPECT_DOUBLE_EQ(share, 0.5);
    EXPECT_EQ(count, 4294967295u);
    EXPECT_EQ(optional, (std::vector<std::string>{"", "x", "y"}));

    // Each mistake ends the parse with exit code 2 and leaves the value alone.
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{{"--name"},
                                                                                     {"--name", ""},
                                                                                     {"--name="},
                                                                                     {"--log=1"},
                                                                                     {"--lo"},
                                                                                     {"name"},
                                                                                     {"--share", "nan"},
                                                                                     {"--share", "1.5"},
                                                                                     {"--share", " 0.5"},
                                                                                     {"--count", "0"},
                                                                                     {"--count", "+5"},
                                                                                     {"--count", "-1"},
                                                                                     {"--count", "5x"},
                                                                                     {"--count", "4294967296"}}) {
        EXPECT_EQ(ParseWords(line, bad), 2) << bad[0];
    }
    EXPECT_EQ(name, "a=b");
    EXPECT_DOUBLE_EQ(share, 0.5);
    EXPECT_EQ(count, 4294967295u);

    uint64_t n = 0;
    EXPECT_TRUE(ParseCount("7FF", 16, 0, 0x7FF, n));
    EXPECT_EQ(n, 0x7FFu);
    EXPECT_FALSE(ParseCount("18446744073709551616", 10, 0, UINT64_MAX, n)); // beyond 64 bits
}

TEST(CommandLine, EveryToolWordsTheSameMistakeAlike)
{
    const std::string version = " " + std::to_string(TCM_VERSION_MAJOR) + "." + std::to_string(TCM_VERSION_MINOR);
    for (const TTool& tool : Tools()) {
        SCOPED_TRACE(tool.Name);
        const std::string prefix = tool.Name + ": ";

        const TToolRun unknown = RunTool(tool.Exe, {"--colour"});
        EXPECT_EQ(unknown.Exit, 2);
        EXPECT_EQ(unknown.Err.rfind(prefix + "unknown option --colour\n", 0), 0u) << unknown.Err;
        EXPECT_NE(unknown.Err.find("--help"), std::string::npos) << "the usage follows the problem";

        const TToolRun missing = RunTool(tool.Exe, {tool.NumberOption});
        EXPECT_EQ(missing.Exit, 2);
        EXPECT_EQ(missing.Err.rfind(prefix + tool.NumberOption + " needs a value\n", 0), 0u) << missing.Err;

        const TToolRun badNumber = RunTool(tool.Exe, {tool.NumberOption, "12k"});
        EXPECT_EQ(badNumber.Exit, 2);
        EXPECT_EQ(badNumber.Err.rfind(prefix + "bad " + tool.NumberOption + " 12k (", 0), 0u) << badNumber.Err;

        const TToolRun help = RunTool(tool.Exe, {"--help"});
        EXPECT_EQ(help.Exit, 0);
        EXPECT_NE(help.Out.find("--version"), std::string::npos);
        EXPECT_EQ(help.Err, "");
        EXPECT_EQ(RunTool(tool.Exe, {"-h"}).Out, help.Out);

        const TToolRun shown = RunTool(tool.Exe, {"--version"});
        EXPECT_EQ(shown.Exit, 0);
        EXPECT_EQ(shown.Out, tool.Name + version + "\n");
    }
}

TEST(CommandLine, SlcanHelpNotesTheRateUnderRate)
{
    const std::string help = RunTool(TCM_SLCAN_EXE, {"--help"}).Out;
    const size_t rate = help.find("  --rate BPS");
    const size_t note = help.find("(the rate of O until");
    const size_t extended = help.find("  --extended");
    ASSERT_NE(note, std::string::npos) << help;
    EXPECT_LT(rate, note);
    EXPECT_LT(note, extended);
}
