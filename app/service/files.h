#pragma once
// The INI files the daemon reads in its folder (vr.ini, polled every
// second, and "com i dlit.ini"), on rules a service needs: a file is opened
// without following a link and without blocking, only a regular file of at
// most MaxFileBytes is read, and a file that did not change is not read
// again. A rewrite never goes through a link.
//
// A file the daemon could not rewrite reads from then on as the daemon
// wrote it, until somebody changes it: a request whose deletion failed is
// obeyed once, not every second for ever.

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "winlib/profile.h"

class TDaemonFiles final : public TProfileFiles {
public:
    static constexpr std::size_t MaxFileBytes = 64 * 1024;

    // `log` gets one line for every new problem with a file.
    explicit TDaemonFiles(std::function<void(const std::string&)> log) : log_(std::move(log)) {}

    profile_detail::TReadResult Read(const char* path, std::string& bytes) override;
    bool Replace(const char* path, std::string_view bytes) override;

    // The problem with one of the files now; empty when there is none.
    std::string Problem() const;

private:
    struct TIdentity {
        dev_t Device = 0;
        ino_t Inode = 0;
        off_t Size = -1;
        std::int64_t ModifiedNs = 0, ChangedNs = 0;
        bool operator==(const TIdentity&) const = default;
    };
    struct TFile {
        TIdentity Identity;
        profile_detail::TReadResult Result = profile_detail::TReadResult::Missing;
        std::string Bytes;    // what a read gives while the identity holds
        std::string Problem;  // why it is not read, or not written
    };
    static TIdentity IdentityOf(const struct stat& st);
    profile_detail::TReadResult Give(TFile& file, std::string& bytes) const;
    void Report(TFile& file, const std::string& path, std::string problem);
    bool Write(const std::string& path, std::string_view bytes, std::string& why) const;

    std::function<void(const std::string&)> log_;
    std::map<std::string, TFile> files_;
};
