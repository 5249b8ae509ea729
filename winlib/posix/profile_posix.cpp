#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "winlib/profile.h"

TProfileStore& PlatformProfileStore() { return NativeProfileStore(); }

namespace profile_detail {

std::FILE* OpenForReading(const char* path) { return std::fopen(path, "rb"); }

namespace {

std::string DirectoryOf(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

// A writer killed between creating its temporary file and renaming it
// leaves the file behind; the next write of the same target takes it away.
// Files of a living process (another writer right now) and our own are
// left alone.
void RemoveStaleTempFiles(const std::string& target) {
    const std::string dir = DirectoryOf(target);
    const std::size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    DIR* listing = ::opendir(dir.c_str());
    if (!listing) return;
    while (const dirent* entry = ::readdir(listing)) {
        unsigned long pid = 0;
        if (!IsTempFileOf(entry->d_name, name, pid)) continue;
        if (pid == static_cast<unsigned long>(::getpid()) || pid > 0x7FFFFFFFul) continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        ::unlinkat(::dirfd(listing), entry->d_name, 0);
    }
    ::closedir(listing);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Makes the rename itself durable; a failure here loses nothing.
void SyncDirectory(const std::string& file) {
    const int fd = ::open(DirectoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

bool ReplaceWholeFile(const char* path, std::string_view bytes) {
    if (!path || !*path) return false;
    std::string target = path;
    // Replace what a link points at, not the link: the link stays a link.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(target.c_str(), nullptr);
        if (!real) return false;  // a dangling link: nothing sensible to write to
        target = real;
        std::free(real);
    }
    mode_t mode = 0666;  // less the umask, as for any new file
    bool exists = false;
    if (::stat(target.c_str(), &st) == 0) {
        exists = true;
        if (!S_ISREG(st.st_mode)) return false;
        // A file nobody may write is read-only, even to root.
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) return false;
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return false;
    }

    static unsigned counter = 0;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(++counter);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    if (ok && exists) {
        // The umask must not narrow an existing file's permissions; the
        // owner can only be kept where we are allowed to.
        ::fchmod(fd, mode);
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Not permitted: the file becomes ours, as any rewrite would.
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncDirectory(target);
    RemoveStaleTempFiles(target);
    return true;
}

}  // namespace profile_detail
