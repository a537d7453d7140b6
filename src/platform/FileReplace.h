#pragma once
#include <string>

namespace tcm {

// Replaces the whole content of `path` in one step: the bytes are written to a
// temporary file beside it, flushed to disk and renamed over the old file, so a
// failure or a crash leaves either the old file or the new one, never a mix.
// Throws std::system_error (carrying errno) when any step fails; the old file
// is then untouched and the temporary file is removed. An existing file
// without any write permission bit was made read-only on purpose: it is not
// replaced (EACCES), even by a user whom the system would let.
// The temporary file is named `path` + ".tmp-" + the process id.
void ReplaceFileContents(const std::string& path, const std::string& content);

// Creates a new temporary file beside `path` (never following a link, never
// reusing a file that exists) with `mode`; returns its descriptor and sets
// `tempPath`, or -1 with errno set.
int CreateTempBeside(const std::string& path, unsigned mode, std::string& tempPath);

// Keeps a copy of the file `path` as `backupPath`, replacing an older copy in
// one step. Throws std::system_error when `path` cannot be read or the copy
// cannot be written.
void KeepFileCopy(const std::string& path, const std::string& backupPath);

// Removes the temporary files that ReplaceFileContents left beside `path`
// when the process that wrote them ended half-way (killed, crashed): those
// whose process no longer runs. Others' files stay. Failures are ignored.
void RemoveStaleTempFiles(const std::string& path);

} // namespace tcm
