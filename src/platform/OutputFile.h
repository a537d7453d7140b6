#pragma once
#include <string>

namespace tcm {

// A file written from its start: created, or emptied when it exists. Used for
// recordings, whose writers take a plain descriptor. Error texts name the file
// and the system's reason, e.g. "Unable to create /x/y.log: Permission denied".
class TOutputFile {
public:
    TOutputFile() = default;
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    bool Open(const std::string& path, std::string& error);
    // Writes into a temporary file beside `path` (beside the file a link
    // points to); Close() puts it in place of `path` in one step, Discard()
    // removes it, so the old file stays whole until the new one is complete.
    // A target that exists and is not a regular file (a device, a fifo) is
    // written directly, as Open() does. An existing file the user may not
    // write is refused.
    bool OpenReplacing(const std::string& path, std::string& error);
    int Fd() const { return Descriptor; }
    const std::string& Path() const { return Name; }
    // Closes the descriptor; a failing close (a late write error) is reported.
    // A file opened with OpenReplacing() is flushed to disk and moved over the
    // target; on failure the temporary file is removed and the target kept.
    bool Close(std::string& error);
    // Closes and deletes what was written: only a regular file is deleted, so
    // a device or fifo given as the target is never removed; a replacing file
    // removes its temporary file only.
    void Discard();

private:
    int Descriptor = -1;
    bool Regular = false;
    std::string Name;
    std::string Temp;   // the temporary file of OpenReplacing; empty otherwise
    std::string Target; // the file it replaces (a link's target resolved)
};

} // namespace tcm
