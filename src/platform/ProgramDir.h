#pragma once
#include <string>

namespace tcm {

// The directory that holds the running executable, with a trailing '/'.
std::string ProgramDir();

// The folder of the window's settings file and transmit lists, with a trailing
// '/'. A copy of the program in a writable folder, or one whose settings file
// already lies beside it, keeps its files there (a portable copy); an installed
// program (in the build's install folder, /usr/bin or /usr/local/bin, whoever
// runs it) uses $XDG_CONFIG_HOME/TarvenixCanMonitor/ (by default
// ~/.config/TarvenixCanMonitor/), created on first use. Decided once per run;
// the override below wins.
std::string FilesDir();

// The rule behind FilesDir(), for a given executable folder and environment:
// `xdgConfigHome` and `home` may be empty (unset). Creates nothing.
std::string ChooseFilesDir(const std::string& programDir, const std::string& xdgConfigHome, const std::string& home);

// Creates `dir` and its missing parents with the user's permissions (0700 for
// new folders); true when it exists as a folder afterwards.
bool MakeFolders(const std::string& dir);

// Points ProgramDir() and FilesDir() at another directory (tests use a
// temporary folder); an empty path restores the normal rules. A missing
// trailing '/' is added.
void SetProgramDirOverride(const std::string& dir);

} // namespace tcm
