#pragma once
#include <string>

namespace tcm {

// The directory that holds the running executable, with a trailing '/'.
// The settings file and the transmit-list files live here.
std::string ProgramDir();

// Points ProgramDir() at another directory (tests use a temporary folder);
// an empty path restores the executable's own directory. A missing trailing
// '/' is added.
void SetProgramDirOverride(const std::string& dir);

} // namespace tcm
