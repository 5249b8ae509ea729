#pragma once
// TIniFile: one profile file and section, for exactly one access at a time;
// and the resolution of the file names schemes give.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "winlib/obj.h"

// Every access is one call of the current profile store (winlib/profile.h).
// Empty names are passed as empty C strings, never as null.
class TIniFile : public TObj {
public:
    // Read mode, no section yet.
    explicit TIniFile(std::string_view fileName) : FileName(fileName) {}

    bool WriteMode = false;  // false: the accesses read; true: they write
    std::string FileName;    // full name handed to the profile calls
    std::string Section;

    // Write mode: stores the value in signed decimal and returns it.
    // Read mode: the key's integer, `value` when the key is missing.
    std::int32_t AccessInteger(std::string_view key, std::int32_t value);
    // Write mode: stores `value` and returns it. Read mode: the key's text,
    // at most 2047 characters, `value` when the key is missing.
    std::string AccessString(std::string_view key, std::string_view value);
    // Removes the key and its value from the section.
    void DeleteKey(std::string_view key);

protected:
    ~TIniFile() override = default;
};

// File names from here on are UTF-8, whatever the scheme's texts are: the
// program's folder may be named in a script no ANSI code page has.

// The directory of the program's executable, ending in its separator
// ("C:\prog\"; natively "/opt/prog/"). Empty when it cannot be found.
std::string ProgramDirectory();

// For tests: makes ProgramDirectory() answer `directory` (give it its
// trailing separator), or the real one again for std::nullopt. Returns the
// override that was in force, so a test can put it back.
std::optional<std::string> OverrideProgramDirectory(std::optional<std::string> directory);

// The system's directories, each with a trailing separator. On Windows:
// GetWindowsDirectoryA, GetTempPathA, GetSystemDirectoryA. Natively: /etc/
// (machine-wide settings, where the Windows directory keeps its profile
// files), $TMPDIR or /tmp/, and /usr/lib/.
std::string WindowsDirectory();
std::string TempDirectory();
std::string SystemDirectory();

// A scheme's file name (Windows-1251) made into the full name (UTF-8):
// "%windir%", "%tmpdir%" and
// "%sysdir%" (case matters) are replaced by those directories, each macro
// in turn, left to right, never looking into text already inserted; then a
// name without ':' or '\' gets ProgramDirectory() in front. Natively '/'
// counts as a separator too, so "/abs/x.ini" and "sub/x.ini" stay as they
// are (the latter relative to the current directory, like sub\x.ini).
std::string ResolveFileName(std::string_view name);

namespace inifile_detail {
// Per platform: the real program directory, and whether a name already
// says where it lives.
std::string QueryProgramDirectory();
bool HasLocation(std::string_view name);
}  // namespace inifile_detail
