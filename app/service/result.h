#pragma once
// The service's one error convention: an exit code and, when it is not
// exitOk, a message that says why (UTF-8, one line for the log).

#include <string>
#include <utility>

#include "app/service/protocol.h"

struct TResult {
    int Code = exitOk;
    std::string Message;

    static TResult Ok() { return {}; }
    static TResult Fail(int code, std::string message) { return {code, std::move(message)}; }
    explicit operator bool() const { return Code == exitOk; }
};
