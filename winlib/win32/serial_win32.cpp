#include <windows.h>

#include <string>

#include "winlib/serial.h"

namespace {

HANDLE AsHandle(TPortHandle port) { return reinterpret_cast<HANDLE>(port); }

class TWin32Serial final : public TSerialDevice {
public:
    TPortHandle Open(std::string_view deviceName) override {
        const std::string name(deviceName);
        // FILE_ATTRIBUTE_NORMAL without FILE_FLAG_OVERLAPPED: all I/O on the port is synchronous.
        const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        return reinterpret_cast<TPortHandle>(h);  // INVALID_HANDLE_VALUE is all bits set
    }

    bool Configure(TPortHandle port, std::string_view definition, std::uint32_t timeoutMs) override {
        COMMTIMEOUTS timeouts;
        timeouts.ReadIntervalTimeout = timeoutMs;
        timeouts.ReadTotalTimeoutMultiplier = timeoutMs;
        timeouts.ReadTotalTimeoutConstant = timeoutMs;
        timeouts.WriteTotalTimeoutMultiplier = timeoutMs;
        timeouts.WriteTotalTimeoutConstant = timeoutMs;

        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        // Not tested: the block is only the base that the definition edits.
        GetCommState(AsHandle(port), &dcb);
        const std::string text(definition);
        return BuildCommDCBA(text.c_str(), &dcb) && SetCommState(AsHandle(port), &dcb) &&
               SetCommTimeouts(AsHandle(port), &timeouts);
    }

    bool Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) override {
        DWORD done = 0;
        const BOOL ok = WriteFile(AsHandle(port), bytes, count, &done, nullptr);
        written = ok ? done : 0;
        return ok != FALSE;
    }

    void Close(TPortHandle port) override {
        if (port != InvalidPortHandle) CloseHandle(AsHandle(port));
    }
};

}  // namespace

TSerialDevice& PlatformSerialDevice() {
    // Never destroyed: elements may close their ports during static destruction.
    static auto* device = new TWin32Serial;
    return *device;
}
