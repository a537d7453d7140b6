// tarvenix-can-dump --dbc against the in-process simulator: every printed
// signal line is checked against canmatrix decoding the printed frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>

#include "SeeedSimulator.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

const std::string kDbcDir = TCM_DBC_TEST_DIR "/";

struct TPrinted {
    std::string Frame;                        // "ID 0|1 HEXDATA" as canmatrix_decode.py reads it
    std::vector<std::string> Signals;         // the indented lines below the trace line
};

// "IN  ts: 5000  id: 064  l: 8  data: 01 02 ... " -> "64 0 0102..."
std::string FrameOf(const std::string& line)
{
    const size_t id = line.find("id: ") + 4;
    const size_t idEnd = line.find(' ', id);
    const std::string hexId = line.substr(id, idEnd - id);
    std::string data;
    for (size_t p = line.find("data: ") + 6; p + 1 < line.size(); p += 3)
        data += line.substr(p, 2);
    return hexId + (hexId.size() > 3 ? " 1 " : " 0 ") + data;
}

} // namespace

TEST(CanDumpDbc, SignalLinesOfEveryKnownFrameMatchCanmatrix)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 500;
    traffic.Ids = {0x64, 0x200, 0x300, 0x123, 0x18FEF1FE}; // 0x123 is not in the database
    auto sim = std::make_unique<TSeeedSimulator>(traffic);
    ASSERT_TRUE(sim->Start()) << sim->LastError();
    TChild dump({TCM_CAN_DUMP_EXE, "--port", sim->PortPath(), "--frames", "60", "--dbc", kDbcDir + "data/signals.dbc"});
    ASSERT_EQ(dump.WaitExit(20000), 0) << dump.ErrText;

    std::vector<TPrinted> printed;
    for (const auto& line : Lines(dump.OutText)) {
        if (line.rfind("IN  ", 0) == 0)
            printed.push_back({FrameOf(line), {}});
        else if (line.rfind("  ", 0) == 0 && !printed.empty())
            printed.back().Signals.push_back(line.substr(2));
        else
            ADD_FAILURE() << "unexpected line: " << line;
    }
    ASSERT_EQ(printed.size(), 60u);

    TempDir dir;
    std::string frames;
    for (const auto& p : printed)
        frames += p.Frame + "\n";
    ASSERT_TRUE(WriteWholeFile(dir.File("frames.txt"), frames));
    TChild python({"/usr/bin/python3", kDbcDir + "canmatrix_decode.py", kDbcDir + "data/signals.dbc", dir.File("frames.txt")});
    ASSERT_EQ(python.WaitExit(60000), 0) << "canmatrix under /usr/bin/python3 is needed: " << python.ErrText;

    // canmatrix: frame index -> lines "Name value" and value-table text.
    std::vector<std::vector<std::string>> expected(printed.size());
    size_t withSignals = 0;
    for (const auto& line : Lines(python.OutText)) {
        std::vector<std::string> f;
        size_t start = 0;
        for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            f.push_back(line.substr(start, tab - start));
        f.push_back(line.substr(start));
        ASSERT_EQ(f.size(), 5u) << line;
        expected.at(std::stoul(f[0])).push_back(f[1] + "\t" + f[3] + "\t" + (f[4] == "-" ? "" : f[4]));
    }
    for (size_t i = 0; i < printed.size(); ++i) {
        SCOPED_TRACE(printed[i].Frame);
        ASSERT_EQ(printed[i].Signals.size(), expected[i].size());
        withSignals += expected[i].empty() ? 0 : 1;
        for (size_t s = 0; s < expected[i].size(); ++s) {
            // "Name = value[ unit][ (text)]" against canmatrix's name, value and text.
            const std::string& mine = printed[i].Signals[s];
            const std::string& theirs = expected[i][s];
            const size_t tab1 = theirs.find('\t');
            const size_t tab2 = theirs.find('\t', tab1 + 1);
            const std::string name = theirs.substr(0, tab1);
            const double value = std::strtod(theirs.substr(tab1 + 1, tab2 - tab1 - 1).c_str(), nullptr);
            const std::string text = theirs.substr(tab2 + 1);
            ASSERT_EQ(mine.rfind(name + " = ", 0), 0u) << mine;
            const double shown = std::strtod(mine.c_str() + name.size() + 3, nullptr);
            EXPECT_NEAR(shown, value, std::fabs(value) * 1e-14 + 1e-9) << mine;
            if (text.empty())
                EXPECT_EQ(mine.find('('), std::string::npos) << mine;
            else
                EXPECT_EQ(mine.substr(mine.size() - text.size() - 3), " (" + text + ")") << mine;
        }
    }
    EXPECT_EQ(withSignals, 48u); // four of the five identifiers are known
}

TEST(CanDumpDbc, ReportsFileProblems)
{
    TChild missing({TCM_CAN_DUMP_EXE, "--port", "ttyS99", "--dbc", kDbcDir + "data/none.dbc"});
    EXPECT_EQ(missing.WaitExit(5000), 2);
    EXPECT_NE(missing.ErrText.find("cannot open " + kDbcDir + "data/none.dbc"), std::string::npos) << missing.ErrText;

    // A database with unreadable lines is used; its lines are reported before the channel opens.
    TChild broken({TCM_CAN_DUMP_EXE, "--port", "/dev/tcm-missing-port", "--dbc", kDbcDir + "data/broken.dbc"});
    EXPECT_EQ(broken.WaitExit(5000), 1);
    EXPECT_NE(broken.ErrText.find("broken.dbc:12: expected the signal length"), std::string::npos) << broken.ErrText;
    EXPECT_NE(broken.ErrText.find("broken.dbc:15: unknown section 'this'"), std::string::npos);
}
