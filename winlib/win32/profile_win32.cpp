#include <windows.h>

#include <cstring>
#include <string>

#include "winlib/profile.h"

namespace {

const char* OrEmpty(const char* s) { return s ? s : ""; }

// Straight through to the system. Names are never passed as nullptr: for
// these functions a null section or key means "list the names" or "delete
// the whole section", which the seam does not offer.
class TWin32ProfileStore final : public TProfileStore {
public:
    std::string GetString(const char* section, const char* key, const char* defaultValue, const char* file) override {
        char buffer[ProfileStringMax + 1];
        buffer[0] = '\0';
        GetPrivateProfileStringA(OrEmpty(section), OrEmpty(key), OrEmpty(defaultValue), buffer, sizeof buffer,
                                 OrEmpty(file));
        buffer[ProfileStringMax] = '\0';
        return std::string(buffer, std::strlen(buffer));
    }

    std::int32_t GetInt(const char* section, const char* key, std::int32_t defaultValue, const char* file) override {
        return static_cast<std::int32_t>(
            GetPrivateProfileIntA(OrEmpty(section), OrEmpty(key), defaultValue, OrEmpty(file)));
    }

    bool WriteString(const char* section, const char* key, const char* value, const char* file) override {
        return WritePrivateProfileStringA(OrEmpty(section), OrEmpty(key), value, OrEmpty(file)) != FALSE;
    }
};

}  // namespace

TProfileStore& Win32ProfileStore() {
    static TWin32ProfileStore store;
    return store;
}

TProfileStore& PlatformProfileStore() { return Win32ProfileStore(); }

namespace profile_detail {

bool ReplaceWholeFile(const char* path, std::string_view bytes) {
    if (!path || !*path) return false;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return false;

    static unsigned counter = 0;
    std::string temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = std::string(path) + ".tmp" + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++counter);
        file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    ok = ok && MoveFileExA(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (!ok) {
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace profile_detail
