#include "app/service/modemline.h"

#include <cerrno>

namespace {
// A modem's command buffer holds about 40 characters; anything much longer
// without a line end is not an answer.
constexpr std::size_t MaxLine = 256;
}  // namespace

TPortHandle TModemLine::Open(std::string_view) {
    errno = 0;
    const TPortHandle port = inner_.Open(DevicePath);
    if (port == InvalidPortHandle) {
        lastOpenError_ = errno != 0 ? errno : EIO;
        return port;
    }
    lastOpenError_ = 0;
    open_ = port;
    partial_.clear();
    if (Opened) Opened(port);
    return port;
}

bool TModemLine::Configure(TPortHandle port, std::string_view definition, std::uint32_t timeoutMs) {
    return inner_.Configure(port, definition, timeoutMs);
}

bool TModemLine::Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) {
    if (Writing) Writing();
    const bool ok = inner_.Write(port, bytes, count, written);
    last_.Bytes.assign(bytes, count);
    last_.Written = ok && written == count;
    last_.Answer = last_.Written ? TAnswer::Pending : TAnswer::None;
    return ok;
}

void TModemLine::Close(TPortHandle port) {
    if (port == open_) {
        if (Closing) Closing(port);
        open_ = InvalidPortHandle;
    }
    inner_.Close(port);
}

void TModemLine::Received(std::string_view bytes) {
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!partial_.empty()) Line(partial_);
            partial_.clear();
        } else if (partial_.size() < MaxLine) {
            partial_ += c;
        }
    }
}

void TModemLine::Line(std::string_view line) {
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos) return;
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);
    if (last_.Answer != TAnswer::Pending) return;  // the echo, or an answer nobody waits for
    if (line == "OK")
        last_.Answer = TAnswer::Ok;
    else if (line == "ERROR")
        last_.Answer = TAnswer::Error;
    else
        return;
    if (Answered) Answered();
}

void TModemLine::AnswerTimedOut() {
    if (last_.Answer == TAnswer::Pending) last_.Answer = TAnswer::None;
}
