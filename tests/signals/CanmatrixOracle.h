#pragma once
// canmatrix (Debian python3-canmatrix under /usr/bin/python3) decoding frames
// with a DBC file: the independent decoder the signal tests compare with.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

struct TOracleFrame {
    uint32_t Id = 0;
    bool Extended = false;
    std::vector<uint8_t> Data;
};

struct TOracleSignal {
    std::string Raw; // "-" for a floating-point signal
    double Value = 0;
    std::string Phys; // the physical value as canmatrix writes it (exact decimal arithmetic)
    std::string Text; // value-table text of the raw value, or empty
};

// Signal name -> canmatrix's values, one map per frame (empty for an unknown identifier).
// `encoding`: the file's text encoding as Python names it, empty for canmatrix's default.
inline std::vector<std::map<std::string, TOracleSignal>>
CanmatrixDecode(const std::string& dbc, const std::vector<TOracleFrame>& frames, const std::string& encoding = "")
{
    TempDir dir;
    std::string list;
    for (const auto& f : frames) {
        char text[64];
        std::snprintf(text, sizeof text, "%X %d ", f.Id, f.Extended ? 1 : 0);
        list += text;
        for (uint8_t b : f.Data) {
            std::snprintf(text, sizeof text, "%02X", b);
            list += text;
        }
        list += "\n";
    }
    EXPECT_TRUE(WriteWholeFile(dir.File("frames.txt"), list));
    std::vector<std::string> command = {"/usr/bin/python3", TCM_DBC_TEST_DIR "/canmatrix_decode.py", dbc,
                                        dir.File("frames.txt")};
    if (!encoding.empty())
        command.push_back(encoding);
    TChild python(command);
    EXPECT_EQ(python.WaitExit(60000), 0) << "canmatrix under /usr/bin/python3 (Debian python3-canmatrix) is needed: "
                                         << python.ErrText;
    std::vector<std::map<std::string, TOracleSignal>> values(frames.size());
    for (const auto& line : Lines(python.OutText)) {
        std::vector<std::string> f;
        size_t start = 0;
        for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            f.push_back(line.substr(start, tab - start));
        f.push_back(line.substr(start));
        char* end = nullptr;
        const double value = f.size() == 5 ? std::strtod(f[3].c_str(), &end) : 0;
        EXPECT_TRUE(end && *end == '\0') << line;
        if (end && *end == '\0')
            values.at(std::stoul(f[0]))[f[1]] = {f[2], value, f[3], f[4] == "-" ? "" : f[4]};
    }
    return values;
}

// One frame to encode: its identifier and "Signal=value" texts.
struct TOracleRequest {
    uint32_t Id = 0;
    bool Extended = false;
    std::vector<std::string> Values;
};

// canmatrix's data bytes (upper-case hex) of each request; signals not given are 0.
inline std::vector<std::string> CanmatrixEncode(const std::string& dbc, const std::vector<TOracleRequest>& requests,
                                                const std::string& encoding = "")
{
    TempDir dir;
    std::string list;
    for (const auto& r : requests) {
        char text[32];
        std::snprintf(text, sizeof text, "%X %d", r.Id, r.Extended ? 1 : 0);
        list += text;
        for (const auto& v : r.Values)
            list += "\t" + v;
        list += "\n";
    }
    EXPECT_TRUE(WriteWholeFile(dir.File("requests.txt"), list));
    std::vector<std::string> command = {"/usr/bin/python3", TCM_DBC_TEST_DIR "/canmatrix_encode.py", dbc,
                                        dir.File("requests.txt")};
    if (!encoding.empty())
        command.push_back(encoding);
    TChild python(command);
    EXPECT_EQ(python.WaitExit(60000), 0) << "canmatrix under /usr/bin/python3 (Debian python3-canmatrix) is needed: "
                                         << python.ErrText;
    return Lines(python.OutText);
}
