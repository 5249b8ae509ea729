#pragma once
// One line of the daemon's log: stderr, which systemd's journal keeps.

#include <cstdio>
#include <string>

inline void Log(const std::string& line) {
    const std::string text = "modemswitch: " + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}
