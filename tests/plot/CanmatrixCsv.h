#pragma once
// canmatrix (Debian python3-canmatrix under /usr/bin/python3) decoding a
// candump recording into the CSV rows the plot's CSV files should hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ChildProcess.h"

inline std::vector<std::string> CsvFields(const std::string& line)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
        out.push_back(line.substr(start, comma - start));
    out.push_back(line.substr(start));
    return out;
}

// The rows (without the header) canmatrix makes of `candumpLog` for `names` (comma-separated signals).
inline std::vector<std::string> CanmatrixCsvRows(const std::string& dbc, const std::string& candumpLog,
                                                 const std::string& names)
{
    TChild python({"/usr/bin/python3", TCM_PLOT_TEST_DIR "/canmatrix_csv.py", dbc, candumpLog, names});
    EXPECT_EQ(python.WaitExit(60000), 0) << "canmatrix under /usr/bin/python3 (Debian python3-canmatrix) is needed: "
                                         << python.ErrText;
    return Lines(python.OutText);
}

// Each row of `mine` (after its header) holds canmatrix's time and values.
inline void ExpectCanmatrixRows(const std::vector<std::string>& mine, const std::vector<std::string>& theirs)
{
    ASSERT_EQ(mine.size(), theirs.size() + 1);
    for (size_t r = 0; r < theirs.size(); ++r) {
        SCOPED_TRACE(mine[r + 1]);
        const auto a = CsvFields(mine[r + 1]);
        const auto b = CsvFields(theirs[r]);
        ASSERT_EQ(a.size(), b.size());
        EXPECT_EQ(a[0], b[0]); // seconds since the recording's first frame
        for (size_t c = 1; c < a.size(); ++c) {
            ASSERT_EQ(a[c].empty(), b[c].empty()) << "column " << c;
            if (!a[c].empty()) {
                EXPECT_NEAR(std::stod(a[c]), std::stod(b[c]), 1e-9) << "column " << c;
            }
        }
    }
}
