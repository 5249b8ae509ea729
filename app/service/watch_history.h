#pragma once
// When the watchdog acted, kept across restarts of the daemon: a daemon
// that the cycle itself restarts (it runs behind the same switch) must not
// forget its count and cycle for ever. One time a line, in milliseconds
// since the epoch; the newest MaxKept.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "winlib/profile.h"

inline constexpr std::size_t MaxWatchHistory = 64;

// The times in the text, oldest first; lines that are no time are skipped.
std::vector<std::int64_t> ParseWatchHistory(std::string_view text);
std::string WatchHistoryText(const std::vector<std::int64_t>& times);

class TWatchHistory {
public:
    // `files` reads and writes on the daemon's rules (no links, bounded).
    TWatchHistory(TProfileFiles& files, std::string path) : files_(files), path_(std::move(path)) {}
    std::vector<std::int64_t> Load() const;
    bool Save(const std::vector<std::int64_t>& times) const;
    const std::string& Path() const { return path_; }

private:
    TProfileFiles& files_;
    std::string path_;
};
