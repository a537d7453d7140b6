#pragma once
#include <string>
#include <system_error>
#include <vector>

namespace tcm {

// A name beside a file that something else occupies (a link, a folder, another
// user's file): it is never written through, replaced or removed.
class EPlantedFile : public std::system_error {
public:
    explicit EPlantedFile(const std::string& path);
    const std::string& Path() const { return PlantedPath; }

private:
    std::string PlantedPath;
};

// Replaces the whole content of `path` in one step: the bytes are written to a
// temporary file beside it, flushed to disk and renamed over the old file, so a
// failure or a crash leaves either the old file or the new one, never a mix.
// Throws std::system_error (carrying errno) when any step fails; the old file
// is then untouched and the temporary file is removed. An existing file
// without any write permission bit was made read-only on purpose: it is not
// replaced (EACCES), even by a user whom the system would let.
// The temporary file comes from CreateTempBeside; the new file takes the old
// one's permissions.
void ReplaceFileContents(const std::string& path, const std::string& content);

// Creates a new temporary file beside `path` with `mode` (never following a
// link, never reusing a file that exists), named `path` + ".tmp-" + the process
// id, with "-N" after it while this user's regular files hold the name; returns
// its descriptor and sets `tempPath`. Throws EPlantedFile when a name is taken
// by anything but this user's regular file, std::system_error on other failures.
int CreateTempBeside(const std::string& path, unsigned mode, std::string& tempPath);

// Keeps a copy of the file `path` as `backupPath` with the same permissions,
// replacing an older copy in one step. Throws std::system_error when `path`
// cannot be read or the copy cannot be written, EPlantedFile when `backupPath`
// or its temporary name is taken by anything but this user's regular file.
void KeepFileCopy(const std::string& path, const std::string& backupPath);

// Removes the temporary files that ReplaceFileContents left beside `path`
// when the process that wrote them ended half-way (killed, crashed): this
// user's regular files whose process no longer runs. Others' files stay.
// Returns the stale names left alone because they are not this user's regular
// files; other failures are ignored.
std::vector<std::string> RemoveStaleTempFiles(const std::string& path);

// The text that names a planted file: "<path> is in the way ...".
std::string PlantedFileText(const std::string& path);

} // namespace tcm
