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
    int Fd() const { return Descriptor; }
    const std::string& Path() const { return Name; }
    // Closes the descriptor; a failing close (a late write error) is reported.
    bool Close(std::string& error);
    // Closes and deletes what was written: only a regular file is deleted, so
    // a device or fifo given as the target is never removed.
    void Discard();

private:
    int Descriptor = -1;
    bool Regular = false;
    std::string Name;
};

} // namespace tcm
