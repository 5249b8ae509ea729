// The watchdog's outside input: a target as a unit's environment file or a
// command line gives it, and the file of past actions as anyone who may
// write the state directory leaves it. No crash, no sanitizer report; a
// target taken is one a lookup and a log line can carry; the actions read
// are bounded, in order, and read back the same once written.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/service/watch_history.h"
#include "app/service/watch_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    TWatchTarget target;
    if (ParseWatchTarget(text, target)) {
        if (target.Host.empty() || target.Host.size() > 253 || target.Text != text) std::abort();
        if (target.Port < 0 || target.Port > 65535) std::abort();
        if (target.Host.find_first_of(" \t\r\n/[]") != std::string::npos) std::abort();
    }

    const auto times = ParseWatchHistory(text);
    if (times.size() > MaxWatchHistory) std::abort();
    for (std::size_t i = 1; i < times.size(); ++i)
        if (times[i] < times[i - 1]) std::abort();
    if (ParseWatchHistory(WatchHistoryText(times)) != times) std::abort();
    return 0;
}
