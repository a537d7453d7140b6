#pragma once
#include <string>

namespace tcm {

// Replaces the whole content of `path` in one step: the bytes are written to a
// temporary file beside it, flushed to disk and renamed over the old file, so a
// failure or a crash leaves either the old file or the new one, never a mix.
// Throws std::system_error (carrying errno) when any step fails; the old file
// is then untouched and the temporary file is removed.
void ReplaceFileContents(const std::string& path, const std::string& content);

} // namespace tcm
