// tarvenix-can-dump --csv against canmatrix: the CSV of a candump recording
// read with --input is compared with canmatrix's decode of the same recording.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "plot/CanmatrixCsv.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

TEST(CanDumpCsv, RowsMatchCanmatrixDecodingTheRecording)
{
    TempDir dir;
    const std::string dbc = TCM_DBC_TEST_DIR "/data/vehicle.dbc";
    const std::string names = "ENGINE_SPEED,GEAR,CabinTemp,Pressure,RequestCounter,2ND_AXLE_TORQUE";
    // Engine data, the multiplexed diagnosis message on every page, the
    // four-wheel-drive message, an unknown identifier and a remote frame, 1 ms apart.
    std::mt19937 random(11);
    std::string log;
    for (int i = 0; i < 80; ++i) {
        const uint32_t ids[] = {608, 1300, 1300, 1275, 0x123};
        const uint32_t id = ids[random() % 5];
        char line[96];
        uint8_t d[8];
        for (uint8_t& b : d)
            b = static_cast<uint8_t>(random());
        if (id == 1300) {
            d[0] = static_cast<uint8_t>(random() % 7);
            d[1] = static_cast<uint8_t>(random() % 9);
        }
        std::snprintf(line, sizeof line, "(1700000000.%06d) can0 %03X#%02X%02X%02X%02X%02X%02X%02X%02X\n", i * 1000, id,
                      d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
        log += line;
    }
    log += "(1700000000.090000) can0 260#R\n";
    ASSERT_TRUE(WriteWholeFile(dir.File("bus.log"), log));

    const std::vector<std::string> expected = CanmatrixCsvRows(dbc, dir.File("bus.log"), names);

    TChild dump({TCM_CAN_DUMP_EXE, "--input", dir.File("bus.log"), "--dbc", dbc, "--csv", dir.File("out.csv"),
                 "--signals", names, "--output", "/dev/null"});
    ASSERT_EQ(dump.WaitExit(10000), 0) << dump.ErrText;

    const std::vector<std::string> rows = Lines(ReadWholeFile(dir.File("out.csv")));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], "time," + names);
    ASSERT_GT(expected.size(), 40u);
    ExpectCanmatrixRows(rows, expected);
}

TEST(CanDumpCsv, RefusesIncompleteOrWrongRequests)
{
    const std::string dbc = TCM_DBC_TEST_DIR "/data/vehicle.dbc";
    for (const auto& [args, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--csv", "x.csv"}, "--csv needs --signals"},
             {{"--signals", "GEAR"}, "--signals needs --csv"},
             {{"--csv", "x.csv", "--signals", "GEAR"}, "--csv needs --dbc"},
             {{"--csv", "x.csv", "--signals", "GEAR,Nope", "--dbc", dbc}, "--csv: no signal Nope in the database"},
             {{"--csv", "-", "--signals", "GEAR", "--dbc", dbc}, "both would write to standard output"}}) {
        std::vector<std::string> command = {TCM_CAN_DUMP_EXE, "--port", "/dev/tcm-missing-port"};
        command.insert(command.end(), args.begin(), args.end());
        TChild bad(command);
        EXPECT_EQ(bad.WaitExit(5000), 2) << said;
        EXPECT_NE(bad.ErrText.find(said), std::string::npos) << bad.ErrText;
    }
}
