// The socket's request and reply lines on arbitrary bytes, as any user in
// the socket's group may send them: no crash, no sanitizer report; a
// request taken is one the command line could have made, and says the same
// when made again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/service/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    TRequest request;
    if (ParseRequestLine(text, request)) {
        if (request.Verb == TVerb::Pulse) {
            std::string again;
            if (!NormalizePulse(request.Seconds, again) || again != request.Seconds || again == "0") std::abort();
        } else if (!request.Seconds.empty()) {
            std::abort();
        }
        TRequest back;
        if (!ParseRequestLine(RequestLine(request), back) || back.Verb != request.Verb || back.Seconds != request.Seconds ||
            back.Switch != request.Switch || back.All != request.All)
            std::abort();
        if (request.Switch < 1 || request.Switch > 8 || (request.All && request.Verb != TVerb::Status)) std::abort();
    }

    // What a client believes of a reply: never more than it was told.
    TReply reply;
    if (ParseReplyLine(text, reply)) {
        const std::string line = ReplyLine(reply);
        if (line.empty() || line.back() != '\n') std::abort();
        StatusLine(reply.Status);
        StatusJson(reply.Status);
        if (reply.All.size() > 8) std::abort();
        StatusesJson(reply.All);
        if (reply.Status.Watch) {
            const std::string lines = WatchLines(*reply.Status.Watch);
            if (lines.empty() || lines.back() != '\n') std::abort();
            WatchJson(*reply.Status.Watch, false);
        }
    }
    return 0;
}
