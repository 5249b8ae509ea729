#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "winlib/serial.h"

namespace {

struct TSpeed {
    std::int32_t Baud;
    speed_t Code;
};
constexpr TSpeed Speeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(std::int32_t baud, speed_t& code) {
    for (const TSpeed& s : Speeds)
        if (s.Baud == baud) {
            code = s.Code;
            return true;
        }
    return false;
}

// The settings that a definition text controls, for comparing after tcsetattr
// (which reports success when any one change could be made).
constexpr tcflag_t ControlledFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

bool ApplySettings(termios& t, const TSerialSettings& s) {
    // Raw mode, but what the text does not name keeps the port's value.
    const tcflag_t kept = t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR);
    cfmakeraw(&t);
    // Closing the port must leave the modem lines as they were: with HUPCL
    // it would drop DTR, and a modem set to &D2 hangs up. CLOCAL: no
    // waiting for a carrier.
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR | HUPCL)) | kept | CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (s.Baud != 0) {
        speed_t code;
        if (!SpeedCode(s.Baud, code) || cfsetispeed(&t, code) != 0 || cfsetospeed(&t, code) != 0) return false;
    }
    if (s.DataBits != 0) {
        constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag = (t.c_cflag & ~CSIZE) | sizes[s.DataBits - 5];
    }
    switch (s.Parity) {
        case 'N': t.c_cflag &= ~(PARENB | PARODD | CMSPAR); break;
        case 'O': t.c_cflag = (t.c_cflag & ~CMSPAR) | PARENB | PARODD; break;
        case 'E': t.c_cflag = (t.c_cflag & ~(PARODD | CMSPAR)) | PARENB; break;
        case 'M': t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case 'S': t.c_cflag = (t.c_cflag & ~PARODD) | PARENB | CMSPAR; break;
        default: break;
    }
    // Linux has no 1.5 stop bits; a UART sends 1.5 for two with 5-bit words.
    if (s.StopBits == 10) t.c_cflag &= ~CSTOPB;
    if (s.StopBits == 15 || s.StopBits == 20) t.c_cflag |= CSTOPB;
    if (s.OutCtsFlow == 0) t.c_cflag &= ~CRTSCTS;
    if (s.OutCtsFlow == 1) t.c_cflag |= CRTSCTS;
    return true;
}

class TPosixSerial final : public TSerialDevice {
public:
    TPortHandle Open(std::string_view deviceName) override {
        const std::string path = deviceName.starts_with('/') ? std::string(deviceName)
                                                             : SerialDevicePath(SerialPortNumber(deviceName));
        if (path.empty()) {
            errno = ENOENT;
            return InvalidPortHandle;
        }
        // Non-blocking: writes wait in poll, bounded by the time-out.
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return InvalidPortHandle;
        struct stat st;
        // flock keeps out every other opener that asks, root included;
        // TIOCEXCL also keeps out programs that do not ask, unless they are root.
        int failure = 0;
        if (fstat(fd, &st) != 0)
            failure = errno;
        else if (!S_ISCHR(st.st_mode))
            failure = ENOTTY;
        else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
            failure = errno;
        if (failure != 0) {
            ::close(fd);
            errno = failure;
            return InvalidPortHandle;
        }
        ioctl(fd, TIOCEXCL);
        timeouts_[fd] = 0;
        return fd;
    }

    bool Configure(TPortHandle port, std::string_view definition, std::uint32_t timeoutMs) override {
        const auto it = timeouts_.find(port);
        if (it == timeouts_.end()) return false;
        const int fd = static_cast<int>(port);
        TSerialSettings settings;
        termios t;
        if (!ParseSerialDefinition(definition, settings) || tcgetattr(fd, &t) != 0 || !ApplySettings(t, settings) ||
            tcsetattr(fd, TCSANOW, &t) != 0)
            return false;
        termios now;
        if (tcgetattr(fd, &now) != 0 || (now.c_cflag & ControlledFlags) != (t.c_cflag & ControlledFlags) ||
            cfgetospeed(&now) != cfgetospeed(&t))
            return false;
        it->second = timeoutMs;
        return true;
    }

    bool Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) override {
        written = 0;
        const auto it = timeouts_.find(port);
        if (it == timeouts_.end()) return false;
        const int fd = static_cast<int>(port);
        using Clock = std::chrono::steady_clock;
        // Timeout x (count + 1), as the write multiplier and constant add up.
        const std::uint64_t limit = std::min<std::uint64_t>(std::uint64_t{it->second} * (std::uint64_t{count} + 1), INT_MAX);
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit);
        while (written < count) {
            const ssize_t n = ::write(fd, bytes + written, count - written);
            if (n > 0) {
                written += static_cast<std::uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;  // timed out: a short write, as a serial time-out reports it
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
        }
        return true;
    }

    void Close(TPortHandle port) override {
        const auto it = timeouts_.find(port);
        if (it == timeouts_.end()) return;  // not ours: never close a stranger's descriptor
        const int fd = static_cast<int>(port);
        ioctl(fd, TIOCNXCL);  // a pty keeps the flag while its other end lives
        ::close(fd);
        timeouts_.erase(it);
    }

private:
    std::unordered_map<TPortHandle, std::uint32_t> timeouts_;  // open ports and their write time-outs
};

}  // namespace

bool IsSerialSpeed(std::int32_t baud) {
    speed_t code;
    return SpeedCode(baud, code);
}

std::string SerialDevicePath(std::int32_t portNumber) {
    if (portNumber <= 0) return {};
    if (const char* dir = std::getenv("MODEMSWITCH_COM_DIR"); dir != nullptr && *dir != '\0') {
        struct stat st;
        if (stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return std::string(dir) + "/com" + std::to_string(portNumber);
    }
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

TSerialDevice& PlatformSerialDevice() {
    // Never destroyed: elements may close their ports during static destruction.
    static auto* device = new TPosixSerial;
    return *device;
}
