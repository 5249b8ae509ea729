#pragma once
// Private-profile (INI) files: read a string or an integer under a section
// and key, write or delete one key. The calls behave like the Win32
// private-profile functions. Our own reader and writer is the default on
// every platform: on Windows the system's ANSI calls cannot reach a folder
// named outside the ANSI code page, and its wide calls would store the
// Russian texts in that code page, so a Western system would lose them.
//
// Sections, keys and values are zero-terminated ANSI strings (a zero byte
// inside ends them, as for the Win32 calls); file names are UTF-8.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "winlib/seam.h"

// Longest text GetString gives: the 2048-byte buffer minus its terminator.
inline constexpr std::size_t ProfileStringMax = 2047;

class TProfileStore {
public:
    TProfileStore() = default;
    TProfileStore(const TProfileStore&) = delete;
    TProfileStore& operator=(const TProfileStore&) = delete;
    virtual ~TProfileStore() = default;

    // The value of `key` in `section` of `file`, at most ProfileStringMax
    // characters; `defaultValue` (nullptr: empty) when the file, the
    // section, the key or its "=" is missing.
    virtual std::string GetString(const char* section, const char* key, const char* defaultValue,
                                  const char* file) = 0;
    // The value read as an integer: leading digits with an optional sign,
    // "0x" for hexadecimal, wrapping modulo 2^32; 0 for text without
    // digits; `defaultValue` when the key is missing or its value empty.
    virtual std::int32_t GetInt(const char* section, const char* key, std::int32_t defaultValue,
                                const char* file) = 0;
    // Sets `key` to `value`, creating the file, section and key as needed;
    // a nullptr value deletes the key. False when the file could not be
    // written; the file is then as it was.
    virtual bool WriteString(const char* section, const char* key, const char* value, const char* file) = 0;
};

// The platform's default: NativeProfileStore() everywhere.
TProfileStore& PlatformProfileStore();

// The store in use now: the platform's own, or a test's stand-in.
using TProfileSeam = TSeam<TProfileStore, PlatformProfileStore>;
inline TProfileStore& CurrentProfileStore() { return TProfileSeam::Current(); }
// nullptr selects the platform's own; gives back the stand-in that was in
// force (nullptr: none).
inline TProfileStore* SetProfileStore(TProfileStore* store) { return TProfileSeam::Set(store); }

// Our own implementation, on every platform. Files without a byte-order
// mark are ANSI text in Windows-1251; files starting with a UTF-8 or UTF-16
// mark are read and written back in that encoding, their characters given
// in 1251 ('?' for those it lacks).
TProfileStore& NativeProfileStore();
// The same for another ANSI code page: 1251 or 1252 (anything else: 1251).
std::unique_ptr<TProfileStore> MakeNativeProfileStore(std::uint32_t codePage);

namespace profile_detail {
enum class TReadResult { Ok, Missing, Failed };
}  // namespace profile_detail

// Where the native store gets a file's bytes and puts them back. The
// default reads and replaces whole files as below; a program with its own
// rules for the files it touches (a daemon that must never block or follow
// a link) gives its own.
class TProfileFiles {
public:
    virtual ~TProfileFiles() = default;
    virtual profile_detail::TReadResult Read(const char* path, std::string& bytes) = 0;
    virtual bool Replace(const char* path, std::string_view bytes) = 0;
};
// The native store over `files`, which must outlive it.
std::unique_ptr<TProfileStore> MakeNativeProfileStore(std::uint32_t codePage, TProfileFiles& files);

#if defined(_WIN32)
// The system's own calls, the reference our store is measured against:
// GetPrivateProfileStringW, GetPrivateProfileIntW, WritePrivateProfileStringW,
// with the texts converted from and to the system's ANSI code page exactly
// as the ANSI calls would.
TProfileStore& Win32ProfileStore();
#endif

// File access of the native store. Reading is the same everywhere; the
// replacement is done per platform.
namespace profile_detail {

// The file opened for binary reading by its UTF-8 name; nullptr with errno
// set (ENOENT: no such file) when it cannot be.
std::FILE* OpenForReading(const char* path);

// A temporary file of ReplaceWholeFile for `target`: its name is the
// target's followed by ".tmp<pid>.<n>". Gives the writer's pid.
bool IsTempFileOf(std::string_view fileName, std::string_view targetName, unsigned long& pid);

// The whole file. Missing: there is no such file; Failed: it exists but
// cannot be read (a directory, no permission, too big to be a profile).
TReadResult ReadWholeFile(const char* path, std::string& bytes);

// Replaces the file's contents with `bytes` so that a crash leaves either
// the old or the new file, never a mix: the bytes go to a new file in the
// same directory, which then takes the old one's place. A read-only file
// is not replaced. False when nothing was changed. Temporary files that a
// writer killed mid-write left for the same target are removed.
bool ReplaceWholeFile(const char* path, std::string_view bytes);

}  // namespace profile_detail
