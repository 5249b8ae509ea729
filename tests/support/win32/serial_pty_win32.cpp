#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/support/serial_pty.h"

namespace {

constexpr std::int32_t ReaderPort = 26;

// MODEMSWITCH_SOURCE_DIR is "Z:/..." for programs run under Wine.
std::string UnixSourceDir() {
    std::string dir = MODEMSWITCH_SOURCE_DIR;
    if (dir.size() >= 2 && (dir[0] == 'Z' || dir[0] == 'z') && dir[1] == ':') dir.erase(0, 2);
    return dir;
}

std::string WindowsPath(const std::string& unixPath) {
    std::string out = "Z:" + unixPath;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string FileText(const std::string& path) {
    std::string text;
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return text;
    char buffer[512];
    DWORD n = 0;
    while (text.size() < 65536 && ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) text.append(buffer, n);
    CloseHandle(h);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// Wine runs Unix programs through CreateProcess too, but without a usable
// process handle: the script reports back through files.
bool RunUnix(const std::string& commandLine) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace

struct TSerialPty::TImpl {
    std::string Dir;  // Unix path
    HANDLE Reader = INVALID_HANDLE_VALUE;
    bool Started = false;
};

TSerialPty::TSerialPty() : impl_(std::make_unique<TImpl>()) {}

TSerialPty::~TSerialPty() {
    TImpl& p = *impl_;
    if (p.Reader != INVALID_HANDLE_VALUE) CloseHandle(p.Reader);
    // Ends socat; the script then removes the links and the directory.
    if (p.Started) RunUnix("/bin/sh \"" + UnixSourceDir() + "/tests/wine/serial-pty.sh\" stop \"" + p.Dir + "\"");
}

bool TSerialPty::Start(std::string& whyNot) {
    TImpl& p = *impl_;
    const char* wine = std::getenv("MODEMSWITCH_UNDER_WINE");
    if (wine == nullptr || std::string(wine) != "1") {
        whyNot = "pseudo-terminal ports need Wine (MODEMSWITCH_UNDER_WINE=1)";
        return false;
    }
    p.Dir = "/tmp/modemswitch-serial-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    const std::string script = UnixSourceDir() + "/tests/wine/serial-pty.sh";
    if (!Exists(WindowsPath(script))) {
        whyNot = "missing " + script;
        return false;
    }
    if (!RunUnix("/bin/sh \"" + script + "\" start \"" + p.Dir + "\" " + std::to_string(Port) + " " +
                 std::to_string(ReaderPort))) {
        whyNot = "cannot start /bin/sh from Wine";
        return false;
    }
    p.Started = true;
    const std::string ready = WindowsPath(p.Dir + "/ready");
    const std::string failed = WindowsPath(p.Dir + "/failed");
    // socat starts in a few milliseconds; the limit only guards against a hang.
    for (int i = 0; i < 1500 && !Exists(ready); ++i) {
        if (Exists(failed)) {
            whyNot = FileText(failed);
            return false;
        }
        Sleep(20);
    }
    if (!Exists(ready)) {
        whyNot = "the socat pair did not come up (see " + p.Dir + ")";
        return false;
    }
    const std::string reader = "\\\\.\\Com" + std::to_string(ReaderPort);
    p.Reader = CreateFileA(reader.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (p.Reader == INVALID_HANDLE_VALUE) {
        whyNot = "cannot open the reading end " + reader;
        return false;
    }
    return true;
}

void TSerialPty::Drain() {
    // Returns at once with whatever is there.
    COMMTIMEOUTS now{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(impl_->Reader, &now);
    char buffer[256];
    DWORD n = 0;
    while (ReadFile(impl_->Reader, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    }
}

std::string TSerialPty::Read(std::size_t count, int waitMs) {
    std::string out;
    const DWORD start = GetTickCount();
    while (out.size() < count) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= static_cast<DWORD>(waitMs)) break;
        COMMTIMEOUTS timeouts{0, 0, static_cast<DWORD>(waitMs) - spent, 0, 0};
        SetCommTimeouts(impl_->Reader, &timeouts);
        char buffer[256];
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, count - out.size()));
        if (!ReadFile(impl_->Reader, buffer, want, &n, nullptr) || n == 0) break;
        out.append(buffer, n);
    }
    return out;
}

bool TSerialPty::ReadTerminalSettings(TPortReadback& out) {
    TImpl& p = *impl_;
    if (!p.Started) return false;
    const std::string answer = WindowsPath(p.Dir + "/stty");
    const std::string failed = WindowsPath(p.Dir + "/stty.failed");
    DeleteFileA(answer.c_str());
    DeleteFileA(failed.c_str());
    if (!RunUnix("/bin/sh \"" + UnixSourceDir() + "/tests/wine/serial-pty.sh\" stty \"" + p.Dir + "\"")) return false;
    // stty answers in milliseconds; the limit only guards against a hang.
    for (int i = 0; i < 500 && !Exists(answer); ++i) {
        if (Exists(failed)) return false;
        Sleep(10);
    }
    return Exists(answer) && ParseSttySettings(FileText(answer), out);
}

bool ReadPortSettings(TPortHandle port, TPortReadback& out) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(reinterpret_cast<HANDLE>(port), &dcb)) return false;
    out.Baud = static_cast<std::int32_t>(dcb.BaudRate);
    out.DataBits = dcb.ByteSize;
    out.Parity = dcb.Parity <= 4 ? "NOEMS"[dcb.Parity] : '?';
    out.StopBits = dcb.StopBits == ONESTOPBIT ? 10 : dcb.StopBits == ONE5STOPBITS ? 15 : 20;
    out.OutCtsFlow = dcb.fOutxCtsFlow != 0;
    out.Raw = dcb.fBinary != 0;
    return true;
}
