#include "app/service/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

using profile_detail::TReadResult;

namespace {

std::string ErrorText(int e) { return std::strerror(e); }

// A descriptor closed on every way out.
struct TFd {
    int Fd = -1;
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd() {
        if (Fd >= 0) close(Fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
};

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

TDaemonFiles::TIdentity TDaemonFiles::IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

TReadResult TDaemonFiles::Give(TFile& file, std::string& bytes) const {
    bytes = file.Result == TReadResult::Ok ? file.Bytes : std::string();
    return file.Result;
}

void TDaemonFiles::Report(TFile& file, const std::string& path, std::string problem) {
    if (problem == file.Problem) return;
    file.Problem = std::move(problem);
    if (!file.Problem.empty() && log_) log_(file.Problem);
    else if (log_) log_("the problem with " + path + " is gone");
}

TReadResult TDaemonFiles::Read(const char* name, std::string& bytes) {
    bytes.clear();
    if (name == nullptr) return TReadResult::Failed;
    const std::string path = name;
    struct stat st;
    if (lstat(name, &st) != 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR) {
            if (const auto it = files_.find(path); it != files_.end()) {
                Report(it->second, path, {});
                files_.erase(it);
            }
            return TReadResult::Missing;
        }
        TFile& file = files_[path];
        file = TFile{{}, TReadResult::Failed, {}, file.Problem};
        Report(file, path, path + ": " + ErrorText(e));
        return TReadResult::Failed;
    }
    TFile& file = files_[path];
    const TIdentity identity = IdentityOf(st);
    if (file.Identity == identity) return Give(file, bytes);
    // Changed, or new: whatever was said of the old one no longer holds.
    file.Identity = identity;
    file.Result = TReadResult::Failed;
    file.Bytes.clear();
    if (S_ISLNK(st.st_mode)) {
        Report(file, path, path + " is a symbolic link: not followed, ignored");
        return TReadResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        Report(file, path, path + " is not a regular file: ignored");
        return TReadResult::Failed;
    }
    if (static_cast<std::size_t>(st.st_size) > MaxFileBytes) {
        Report(file, path, path + " is larger than " + std::to_string(MaxFileBytes / 1024) + " KiB: ignored");
        return TReadResult::Failed;
    }
    const TFd fd(open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat opened;
    if (fd.Fd < 0 || fstat(fd.Fd, &opened) != 0) {
        Report(file, path, path + ": " + ErrorText(errno));
        return TReadResult::Failed;
    }
    if (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino || !S_ISREG(opened.st_mode)) {
        file.Identity = {};  // replaced between the two looks: read it next time
        return TReadResult::Failed;
    }
    std::string content;
    char buffer[8192];
    for (;;) {
        const ssize_t n = read(fd.Fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            Report(file, path, path + ": " + ErrorText(errno));
            return TReadResult::Failed;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > MaxFileBytes) {
            Report(file, path, path + " is larger than " + std::to_string(MaxFileBytes / 1024) + " KiB: ignored");
            return TReadResult::Failed;
        }
    }
    file.Result = TReadResult::Ok;
    file.Bytes = std::move(content);
    Report(file, path, {});
    return Give(file, bytes);
}

bool TDaemonFiles::Replace(const char* name, std::string_view bytes) {
    if (name == nullptr) return false;
    const std::string path = name;
    std::string why;
    if (Write(path, bytes, why)) return true;
    // From now on the file reads as it should have been written, until it
    // changes: a request that could not be deleted is not obeyed again.
    TFile& file = files_[path];
    struct stat st;
    if (lstat(name, &st) == 0) file.Identity = IdentityOf(st);
    file.Result = TReadResult::Ok;
    file.Bytes.assign(bytes);
    Report(file, path, "cannot rewrite " + path + " (" + why + "): it is ignored until it changes");
    return false;
}

bool TDaemonFiles::Write(const std::string& path, std::string_view bytes, std::string& why) const {
    const std::size_t slash = path.rfind('/');
    const std::string dirName = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const TFd dir(open(dirName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Fd < 0) {
        why = ErrorText(errno);
        return false;
    }
    struct stat st;
    mode_t mode = 0666;
    const bool exists = fstatat(dir.Fd, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists) {
        if (S_ISLNK(st.st_mode)) {
            why = "a symbolic link is never written through";
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            why = "not a regular file";
            return false;
        }
        // A file nobody may write is read-only, even to root; and one this
        // user may not write is not replaced behind its owner's back.
        const TFd probe(openat(dir.Fd, base.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if ((st.st_mode & 0222) == 0 || probe.Fd < 0) {
            why = probe.Fd < 0 ? ErrorText(errno) : "read-only";
            return false;
        }
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        why = ErrorText(errno);
        return false;
    }
    static unsigned counter = 0;
    const std::string temp = base + ".tmp" + std::to_string(getpid()) + "." + std::to_string(++counter);
    bool ok = false;
    {
        const TFd out(openat(dir.Fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (out.Fd < 0) {
            why = ErrorText(errno);
            return false;
        }
        ok = WriteAll(out.Fd, bytes) && (!exists || fchmod(out.Fd, mode) == 0);
        // Root keeps the owner; anyone else makes the file its own, as any rewrite would.
        if (ok && exists && geteuid() == 0) ok = fchown(out.Fd, st.st_uid, st.st_gid) == 0;
        ok = ok && fsync(out.Fd) == 0;
        if (!ok) why = ErrorText(errno);
    }
    if (ok && renameat(dir.Fd, temp.c_str(), dir.Fd, base.c_str()) != 0) {
        why = ErrorText(errno);
        ok = false;
    }
    if (!ok) {
        unlinkat(dir.Fd, temp.c_str(), 0);
        return false;
    }
    fsync(dir.Fd);  // the rename made durable; its failure loses nothing
    return true;
}

std::string TDaemonFiles::Problem() const {
    for (const auto& [path, file] : files_)
        if (!file.Problem.empty()) return file.Problem;
    return {};
}
