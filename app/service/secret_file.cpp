#include "app/service/secret_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool ReadSecretLine(const std::string& path, std::string& line) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st;
    char buffer[MaxSecretBytes + 1];
    ssize_t n = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        do n = read(fd, buffer, sizeof buffer);
        while (n < 0 && errno == EINTR);
    close(fd);
    if (n < 0) return false;
    line.assign(buffer, static_cast<std::size_t>(n));
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line.size() <= MaxSecretBytes;
}
