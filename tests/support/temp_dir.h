#pragma once
// A fresh, empty directory for one test, removed with everything in it when
// the object goes. Paths are plain narrow strings as the profile calls take
// them; the directory name ends without a separator.

#include <string>
#include <string_view>

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path() plus the platform's separator plus `name`.
    std::string File(std::string_view name) const;
    // Path() with a trailing separator, as a program directory is given.
    std::string WithSeparator() const;
    // Entries directly inside the directory.
    int FileCount() const;

private:
    std::string path_;
};

// Whole-file helpers; Slurp gives "" for a missing file.
void Spit(const std::string& path, std::string_view bytes);
std::string Slurp(const std::string& path);
bool FileExists(const std::string& path);
// Makes a file read-only (or writable again) the platform's way.
void SetReadOnly(const std::string& path, bool readOnly);
