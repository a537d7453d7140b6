#pragma once
#include <string>
#include <string_view>

#include "signals/DbcDatabase.h"

// Reads DBC text into a database. Messages, signals, value tables (VAL_),
// comments (CM_), the version, nodes, signal value types and extended
// multiplexing (SG_MUL_VAL_) are kept; every other section is read over.
// Text that is not UTF-8 is read as Windows-1252. A message whose identifier
// is wider than 29 bits is reported and left out (Vector's pseudo-message of
// independent signals silently). A statement that cannot be read becomes a problem
// with its line number, and reading goes on at the next line that starts a
// statement. No input makes it fail otherwise.
TDbcDatabase ReadDbcText(std::string_view text);

// Reads a DBC file. False with `error` when the file cannot be read; the
// lines it could not make sense of are in the database's Problems.
bool LoadDbcFile(const std::string& path, TDbcDatabase& database, std::string& error);

// The problems as lines "FILE:LINE: text", at most `maxLines` of them and then
// a line with the number left out; empty when there are none.
std::string DbcProblemReport(const TDbcDatabase& database, const std::string& fileName, size_t maxLines = 20);
