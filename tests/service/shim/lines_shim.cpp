// Modem control lines for a pseudo-terminal, which has none: preloaded into
// the real daemon, it answers TIOCMGET/TIOCMBIS/TIOCMBIC/TIOCMSET where the
// terminal cannot. The lines live in the file $MODEMSWITCH_TEST_LINES, a
// line "<ms since the epoch> <TIOCM bits>" per change, the last one
// current; an empty file is a port just opened, both lines raised, as
// Linux leaves them. While "$MODEMSWITCH_TEST_LINES.stuck" exists the lines
// do not move, as a broken adapter's.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

using TIoctl = int (*)(int, unsigned long, void*);

int CurrentLines(const char* file) {
    FILE* f = std::fopen(file, "r");
    int bits = TIOCM_DTR | TIOCM_RTS;
    if (f == nullptr) return bits;
    long long ms = 0;
    int value = 0;
    while (std::fscanf(f, "%lld %d", &ms, &value) == 2) bits = value;
    std::fclose(f);
    return bits;
}

void Record(const char* file, int bits) {
    if (access((std::string(file) + ".stuck").c_str(), F_OK) == 0) return;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string line = std::to_string(static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000) + " " +
                             std::to_string(bits) + "\n";
    const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t n = write(fd, line.data(), line.size());
    close(fd);
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list list;
    va_start(list, request);
    void* argument = va_arg(list, void*);
    va_end(list);
    static const auto real = reinterpret_cast<TIoctl>(dlsym(RTLD_NEXT, "ioctl"));
    const int result = real(fd, request, argument);
    const char* file = std::getenv("MODEMSWITCH_TEST_LINES");
    const bool lines = request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET;
    if (result == 0 || !lines || file == nullptr || (errno != ENOTTY && errno != EINVAL)) return result;
    int& bits = *static_cast<int*>(argument);
    const int now = CurrentLines(file);
    if (request == TIOCMGET) bits = now;
    if (request == TIOCMBIS) Record(file, now | bits);
    if (request == TIOCMBIC) Record(file, now & ~bits);
    if (request == TIOCMSET) Record(file, bits);
    return 0;
}
