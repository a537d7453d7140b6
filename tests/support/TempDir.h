#pragma once
#include <string>

// A fresh temporary folder for one test, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder's path, with a trailing '/'.
    const std::string& Path() const { return Dir; }
    std::string File(const std::string& name) const { return Dir + name; }

private:
    std::string Dir;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes a whole file as bytes; true on success.
bool WriteWholeFile(const std::string& path, const std::string& content);
