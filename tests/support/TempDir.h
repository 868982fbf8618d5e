#pragma once
// A fresh folder under the system's temporary folder, removed with its content at scope end.

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::string& Path() const { return path_; }
    // Path of a name inside the folder.
    [[nodiscard]] std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole file as bytes in a string; empty when unreadable.
std::string ReadWholeFile(const std::string& path);
// Writes the bytes, replacing the file; true on success.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
