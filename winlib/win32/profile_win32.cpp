#include <windows.h>

#include <cstring>
#include <string>

#include "winlib/profile.h"
#include "winlib/win32/wintext.h"

namespace {

const char* OrEmpty(const char* s) { return s ? s : ""; }

// Texts in the system's ANSI code page, as the ANSI calls take them.
std::wstring FromAnsi(const char* text) { return Widen(CP_ACP, OrEmpty(text)); }
std::string ToAnsi(std::wstring_view text) { return Narrow(CP_ACP, text); }

// Straight through to the system. Names are never passed as nullptr: for
// these functions a null section or key means "list the names" or "delete
// the whole section", which the seam does not offer.
class TWin32ProfileStore final : public TProfileStore {
public:
    std::string GetString(const char* section, const char* key, const char* defaultValue, const char* file) override {
        wchar_t buffer[ProfileStringMax + 1];
        buffer[0] = L'\0';
        GetPrivateProfileStringW(FromAnsi(section).c_str(), FromAnsi(key).c_str(), FromAnsi(defaultValue).c_str(),
                                 buffer, ProfileStringMax + 1, WidenUtf8(OrEmpty(file)).c_str());
        buffer[ProfileStringMax] = L'\0';
        return ToAnsi(std::wstring_view(buffer, std::wcslen(buffer)));
    }

    std::int32_t GetInt(const char* section, const char* key, std::int32_t defaultValue, const char* file) override {
        return static_cast<std::int32_t>(GetPrivateProfileIntW(FromAnsi(section).c_str(), FromAnsi(key).c_str(),
                                                               defaultValue, WidenUtf8(OrEmpty(file)).c_str()));
    }

    bool WriteString(const char* section, const char* key, const char* value, const char* file) override {
        const std::wstring wideValue = FromAnsi(value);
        return WritePrivateProfileStringW(FromAnsi(section).c_str(), FromAnsi(key).c_str(),
                                          value ? wideValue.c_str() : nullptr,
                                          WidenUtf8(OrEmpty(file)).c_str()) != FALSE;
    }
};

// The folder part of a path, with its separator ("" for a bare name).
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool ProcessIsGone(unsigned long pid) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    const bool gone = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return gone;
}

// A writer killed between creating its temporary file and moving it into
// place leaves the file behind; the next write of the same target takes it
// away. Files of a living process and our own are left alone.
void RemoveStaleTempFiles(const std::wstring& target) {
    const std::wstring folder = FolderOf(target);
    const std::string name = NarrowUtf8(std::wstring_view(target).substr(folder.size()));
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((target + L".tmp*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        unsigned long pid = 0;
        if (!profile_detail::IsTempFileOf(NarrowUtf8(found.cFileName), name, pid)) continue;
        if (pid == GetCurrentProcessId() || !ProcessIsGone(pid)) continue;
        DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

TProfileStore& Win32ProfileStore() {
    static TWin32ProfileStore store;
    return store;
}

TProfileStore& PlatformProfileStore() { return NativeProfileStore(); }

namespace profile_detail {

std::FILE* OpenForReading(const char* path) { return _wfopen(WidenUtf8(OrEmpty(path)).c_str(), L"rb"); }

bool ReplaceWholeFile(const char* path, std::string_view bytes) {
    if (!path || !*path) return false;
    const std::wstring target = WidenUtf8(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;

    static unsigned counter = 0;
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        // Digits widened by hand: std::to_wstring would bring in the C
        // runtime's whole wide printf.
        temp = target + WidenUtf8(".tmp" + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++counter));
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    while (ok && !bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = bytes.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size());
        ok = WriteFile(file, bytes.data(), chunk, &written, nullptr) != FALSE && written > 0;
        bytes.remove_prefix(written);
    }
    ok = ok && FlushFileBuffers(file) != FALSE;
    ok = (CloseHandle(file) != FALSE) && ok;
    ok = ok && MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok) {
        DeleteFileW(temp.c_str());
        return false;
    }
    RemoveStaleTempFiles(target);
    return true;
}

}  // namespace profile_detail
