#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "signals/DbcDecoder.h"
#include "signals/DbcReader.h"

class TTarvenixTraceItem;

// The --dbc option of the headless monitor: after the trace line of a data
// frame the database knows, one indented line per decoded signal, e.g.
// "  EngineSpeed = 2000 rpm" or "  Gear = 3 (Drive)".
class TDbcSignalLines {
public:
    // Reads the database. False with `error` when the file cannot be read;
    // lines of it that cannot be read are written to `warnings` and the rest is used.
    bool Load(const std::string& path, std::string& error, std::FILE* warnings);
    bool Loaded() const { return IsLoaded; }
    const TDbcDatabase& Database() const { return Db; } // empty until loaded

    // Appends the signal lines of `item` to `out` (nothing for an unknown
    // identifier or a remote frame).
    void Append(const TTarvenixTraceItem& item, std::string& out);

private:
    TDbcDatabase Db;
    bool IsLoaded = false;
    std::vector<TDbcDecoded> Decoded;
};
