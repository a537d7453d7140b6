// tarvenix-can-dump --dbc against the in-process simulator: every printed
// signal line is checked against canmatrix decoding the printed frame.
#include <gtest/gtest.h>

#include <cmath>
#include <future>

#include "SeeedSimulator.h"
#include "signals/CanmatrixOracle.h"

namespace {

const std::string kDbcDir = TCM_DBC_TEST_DIR "/";

// The frame of "IN  ts: 5000  id: 064  l: 8  data: 01 02 ... ".
TOracleFrame FrameOf(const std::string& line)
{
    TOracleFrame frame;
    frame.Id = static_cast<uint32_t>(std::stoul(line.substr(line.find("id: ") + 4), nullptr, 16));
    frame.Extended = line.find("id: ") + 7 < line.find("  l: ");
    for (size_t p = line.find("data: ") + 6; p + 1 < line.size(); p += 3)
        frame.Data.push_back(static_cast<uint8_t>(std::stoul(line.substr(p, 2), nullptr, 16)));
    return frame;
}

} // namespace

TEST(CanDumpDbc, SignalLinesOfEveryKnownFrameMatchCanmatrix)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 2000;
    traffic.Ids = {0x64, 0x200, 0x300, 0x123, 0x18FEF1FE}; // 0x123 is not in the database
    auto sim = std::make_unique<TSeeedSimulator>(traffic);
    ASSERT_TRUE(sim->Start()) << sim->LastError();
    TChild dump({TCM_CAN_DUMP_EXE, "--port", sim->PortPath(), "--frames", "60", "--dbc", kDbcDir + "data/signals.dbc"});
    ASSERT_EQ(dump.WaitExit(20000), 0) << dump.ErrText;

    std::vector<TOracleFrame> frames;
    std::vector<std::vector<std::string>> printed; // the indented lines below each trace line
    for (const auto& line : Lines(dump.OutText)) {
        if (line.rfind("IN  ", 0) == 0) {
            frames.push_back(FrameOf(line));
            printed.emplace_back();
        } else if (line.rfind("  ", 0) == 0 && !printed.empty()) {
            printed.back().push_back(line.substr(2));
        } else {
            ADD_FAILURE() << "unexpected line: " << line;
        }
    }
    ASSERT_EQ(frames.size(), 60u);
    const auto expected = CanmatrixDecode(kDbcDir + "data/signals.dbc", frames);
    size_t withSignals = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        ASSERT_EQ(printed[i].size(), expected[i].size());
        withSignals += expected[i].empty() ? 0 : 1;
        for (const std::string& mine : printed[i]) {
            // "Name = value[ unit][ (text)]" against canmatrix's value and text.
            const std::string name = mine.substr(0, mine.find(" = "));
            ASSERT_EQ(expected[i].count(name), 1u) << mine;
            const TOracleSignal& theirs = expected[i].at(name);
            const double shown = std::strtod(mine.c_str() + name.size() + 3, nullptr);
            EXPECT_NEAR(shown, theirs.Value, std::fabs(theirs.Value) * 1e-14 + 1e-9) << mine;
            if (theirs.Text.empty())
                EXPECT_EQ(mine.find('('), std::string::npos) << mine;
            else
                EXPECT_EQ(mine.substr(mine.size() - theirs.Text.size() - 3), " (" + theirs.Text + ")") << mine;
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

TEST(CanDumpDbc, SendsFramesComposedFromSignalsAsCanmatrixEncodesThem)
{
    const std::string dbc = kDbcDir + "data/vehicle.dbc";
    // canmatrix composes the same frames while the monitor runs.
    auto byCanmatrix = std::async(std::launch::async, [&] {
        return CanmatrixEncode(dbc,
                               {{608, false, {"ENGINE_SPEED=2000.125", "GEAR=Drive", "AMBIENT_TEMP=-7.5"}},
                                {1275, false, {"4WD_MODE=4WD low", "2ND_AXLE_TORQUE=-12.35"}},
                                {0x0CF004FE, true, {"EngSpeed=1500"}}},
                               "cp1252");
    });
    auto sim = std::make_unique<TSeeedSimulator>(TSeeedSimOptions{});
    ASSERT_TRUE(sim->Start()) << sim->LastError();
    TChild dump({TCM_CAN_DUMP_EXE, "--port", sim->PortPath(), "--duration", "0.1", "--dbc", dbc, "--send-signals",
                 "ENGINE_DATA:ENGINE_SPEED=2000.125,GEAR=Drive,AMBIENT_TEMP=-7.5", "--send-signals",
                 "2017_5:4WD_MODE=4WD low,2ND_AXLE_TORQUE=-12.35", "--send-signals", "EEC1:EngSpeed=1500"});
    ASSERT_EQ(dump.WaitExit(20000), 0) << dump.ErrText;
    const auto theirs = byCanmatrix.get();
    std::vector<std::string> sent;
    for (const TCanFrame& f : sim->ReceivedFrames()) {
        if (f.Id == 0x7A5)
            continue; // the opening's probe
        char hex[17] = {};
        for (int i = 0; i < f.Length; ++i)
            std::snprintf(hex + 2 * i, 3, "%02X", f.Data[i]);
        sent.push_back(hex);
        EXPECT_EQ(f.Standard, f.Id != 0x0CF004FE);
    }
    EXPECT_EQ(sent, theirs);

    // A wrong message, signal or value ends it before opening, naming what is wrong.
    for (const auto& [request, said] : std::vector<std::pair<std::string, std::string>>{
             {"ENGINE_DATA:GEAR=Flying", "bad --send-signals ENGINE_DATA:GEAR=Flying: GEAR: 'Flying' is not a number"},
             {"NOPE:GEAR=1", "no message NOPE in the database"},
             {"ENGINE_DATA:THROTTLE=200", "THROTTLE: 200 % is outside its range 0..102.3 %"},
             {"ENGINE_DATA:Gear=1", "no signal Gear in ENGINE_DATA"}}) {
        TChild bad({TCM_CAN_DUMP_EXE, "--port", "/dev/tcm-missing-port", "--dbc", dbc, "--send-signals", request});
        EXPECT_EQ(bad.WaitExit(5000), 2) << request;
        EXPECT_NE(bad.ErrText.find(said), std::string::npos) << bad.ErrText;
    }
}
