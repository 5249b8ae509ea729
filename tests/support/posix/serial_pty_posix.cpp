#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "tests/support/serial_pty.h"

namespace fs = std::filesystem;

struct TSerialPty::TImpl {
    int Master = -1;
    int Slave = -1;  // kept open so the pair survives the port closing
    fs::path Dir;
    std::string OldComDir;
    bool HadComDir = false;
};

TSerialPty::TSerialPty() : impl_(std::make_unique<TImpl>()) {}

TSerialPty::~TSerialPty() {
    TImpl& p = *impl_;
    if (p.Master >= 0) close(p.Master);
    if (p.Slave >= 0) close(p.Slave);
    if (!p.Dir.empty()) {
        std::error_code ec;
        fs::remove_all(p.Dir, ec);
        if (p.HadComDir)
            setenv("MODEMSWITCH_COM_DIR", p.OldComDir.c_str(), 1);
        else
            unsetenv("MODEMSWITCH_COM_DIR");
    }
}

bool TSerialPty::Start(std::string& whyNot) {
    TImpl& p = *impl_;
    char name[128];
    if (openpty(&p.Master, &p.Slave, name, nullptr, nullptr) != 0) {
        whyNot = "openpty failed";
        return false;
    }
    fcntl(p.Master, F_SETFD, FD_CLOEXEC);
    fcntl(p.Slave, F_SETFD, FD_CLOEXEC);
    char dirTemplate[] = "/tmp/modemswitch-serial-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) {
        whyNot = "mkdtemp failed";
        return false;
    }
    p.Dir = dirTemplate;
    std::error_code ec;
    fs::create_symlink(name, p.Dir / ("com" + std::to_string(Port)), ec);
    if (ec) {
        whyNot = "cannot link " + std::string(name) + ": " + ec.message();
        return false;
    }
    if (const char* old = std::getenv("MODEMSWITCH_COM_DIR")) {
        p.HadComDir = true;
        p.OldComDir = old;
    }
    setenv("MODEMSWITCH_COM_DIR", p.Dir.c_str(), 1);
    return true;
}

void TSerialPty::Drain() {
    // The kernel hands queued bytes over a little after a read makes room,
    // so "nothing there" counts only after a short quiet spell.
    char buffer[4096];
    pollfd fd{impl_->Master, POLLIN, 0};
    while (poll(&fd, 1, 20) > 0 && (fd.revents & POLLIN) && read(impl_->Master, buffer, sizeof buffer) > 0) {
    }
}

std::string TSerialPty::Read(std::size_t count, int waitMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::string out;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd fd{impl_->Master, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0) break;
        char buffer[256];
        const ssize_t n = read(impl_->Master, buffer, std::min(sizeof buffer, count - out.size()));
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

bool TSerialPty::ReadTerminalSettings(TPortReadback& out) { return ReadPortSettings(impl_->Slave, out); }

bool ReadPortSettings(TPortHandle port, TPortReadback& out) {
    termios t;
    if (port < 0 || tcgetattr(static_cast<int>(port), &t) != 0) return false;
    struct {
        speed_t Code;
        std::int32_t Baud;
    } const speeds[] = {{B300, 300}, {B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200},
                        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    out.Baud = 0;
    for (const auto& s : speeds)
        if (cfgetospeed(&t) == s.Code) out.Baud = s.Baud;
    switch (t.c_cflag & CSIZE) {
        case CS5: out.DataBits = 5; break;
        case CS6: out.DataBits = 6; break;
        case CS7: out.DataBits = 7; break;
        default: out.DataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        out.Parity = 'N';
    else if (t.c_cflag & CMSPAR)
        out.Parity = (t.c_cflag & PARODD) ? 'M' : 'S';
    else
        out.Parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    out.StopBits = (t.c_cflag & CSTOPB) ? 20 : 10;
    out.OutCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    out.Raw = !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(t.c_oflag & OPOST) &&
              !(t.c_iflag & (ICRNL | IXON | ISTRIP));
    return true;
}
