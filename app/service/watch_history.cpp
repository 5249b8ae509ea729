#include "app/service/watch_history.h"

#include <algorithm>

std::vector<std::int64_t> ParseWatchHistory(std::string_view text) {
    std::vector<std::int64_t> times;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // Up to 15 digits: any time of the next thirty thousand years, no overflow.
        if (line.empty() || line.size() > 15 || line.find_first_not_of("0123456789") != std::string_view::npos) continue;
        std::int64_t t = 0;
        for (const char c : line) t = t * 10 + (c - '0');
        times.push_back(t);
    }
    std::sort(times.begin(), times.end());
    if (times.size() > MaxWatchHistory) times.erase(times.begin(), times.end() - MaxWatchHistory);
    return times;
}

std::string WatchHistoryText(const std::vector<std::int64_t>& times) {
    std::string text;
    const std::size_t first = times.size() > MaxWatchHistory ? times.size() - MaxWatchHistory : 0;
    for (std::size_t i = first; i < times.size(); ++i) text += std::to_string(times[i]) + "\n";
    return text;
}

std::vector<std::int64_t> TWatchHistory::Load() const {
    std::string bytes;
    if (files_.Read(path_.c_str(), bytes) != profile_detail::TReadResult::Ok) return {};
    return ParseWatchHistory(bytes);
}

bool TWatchHistory::Save(const std::vector<std::int64_t>& times) const {
    return files_.Replace(path_.c_str(), WatchHistoryText(times));
}
