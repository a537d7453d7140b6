#pragma once
#include <string>

namespace tcm {

// Makes `link` a symbolic link to `target` in one step (a new link renamed over
// the old one), replacing a symbolic link already there. Refuses to replace
// anything that is not a symbolic link. False with the reason in `error`.
bool PlaceSymlink(const std::string& link, const std::string& target, std::string& error);

// Removes `link` if it is still a symbolic link to `target` (another program
// may have taken the name meanwhile).
void RemoveSymlinkTo(const std::string& link, const std::string& target);

} // namespace tcm
