#include "app/service/web.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "app/service/clock.h"
#include "app/service/log.h"
#include "app/service/microhttpd_api.h"
#include "app/service/secret_file.h"
#include "app/service/web_page.h"

namespace {

// The library's calls, once Start has loaded it.
const TMicrohttpdApi* loadedApi = nullptr;
const TMicrohttpdApi& Mhd() { return *loadedApi; }

constexpr std::size_t MaxBody = 4096;
constexpr std::size_t MaxSessions = 64;
constexpr std::size_t MaxStreams = 64;
constexpr std::size_t MaxStreamBacklog = 64 * 1024;  // unread by a stalled page: it is let go
constexpr int KeepAliveTicks = 15;
constexpr const char* CookieName = "modemswitch";
constexpr const char* Policy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "form-action 'self'; frame-ancestors 'none'; base-uri 'none'";

std::string RandomHex(std::size_t bytes) {
    std::string raw(bytes, '\0');
    for (std::size_t got = 0; got < bytes;) {
        const ssize_t n = getrandom(raw.data() + got, bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        got += static_cast<std::size_t>(n);
    }
    std::string hex;
    char two[3];
    for (unsigned char c : raw) std::snprintf(two, sizeof two, "%02x", c), hex += two;
    return hex;
}

unsigned StatusFor(int code) {
    switch (code) {
        case exitOk: return MHD_HTTP_OK;
        case exitUsage: return MHD_HTTP_BAD_REQUEST;
        case exitUnavailable: return MHD_HTTP_SERVICE_UNAVAILABLE;
        case exitIoError: return MHD_HTTP_BAD_GATEWAY;
        case exitBusy: return MHD_HTTP_CONFLICT;
        case exitDenied: return MHD_HTTP_FORBIDDEN;
        default: return MHD_HTTP_INTERNAL_SERVER_ERROR;
    }
}

std::optional<std::string_view> Header(MHD_Connection* c, const char* name) {
    const char* value = Mhd().lookup_connection_value(c, MHD_HEADER_KIND, name);
    if (value == nullptr) return std::nullopt;
    return std::string_view(value);
}

std::string ClientAddress(MHD_Connection* c) {
    const MHD_ConnectionInfo* info = Mhd().get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) return "?";
    char text[INET6_ADDRSTRLEN] = "?";
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET) inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    if (a->sa_family == AF_INET6) inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text, sizeof text);
    return text;
}

// A certificate or a key: a regular file, not a link, at most 64 KiB.
bool ReadTlsFile(const std::string& path, std::string& bytes) {
    constexpr std::size_t MaxBytes = 64 * 1024;
    return ReadFileHead(path, MaxBytes + 1, bytes) && bytes.size() <= MaxBytes;
}

void Logger(void*, const char* format, va_list list) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, list);
    std::string line = text;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    Log("web: " + line);
}

}  // namespace

struct TWebDoor::TExchange {
    MHD_Connection* Connection = nullptr;  // while suspended
    std::string Body;
    bool TooLarge = false;
    bool Suspended = false;
    std::optional<TReply> Reply;
};

struct TWebDoor::TStream {
    TWebDoor* Door;
    MHD_Connection* Connection;
    std::string Pending;
    bool Suspended = false;
    bool Closed = false;
};

// The library's callbacks, back into the door.
struct TWebCallbacks {
    static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                             const char* upload, std::size_t* uploadSize, void** context) {
        auto& door = *static_cast<TWebDoor*>(cls);
        if (*context == nullptr) {
            *context = new TWebDoor::TExchange;
            return MHD_YES;
        }
        auto& exchange = *static_cast<TWebDoor::TExchange*>(*context);
        if (*uploadSize != 0) {
            if (exchange.Body.size() + *uploadSize > MaxBody) exchange.TooLarge = true;
            else exchange.Body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        return door.Handle(connection, url, method, upload, uploadSize, exchange) != 0 ? MHD_YES : MHD_NO;
    }

    static void Completed(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
        delete static_cast<TWebDoor::TExchange*>(*context);
        *context = nullptr;
    }

    static ssize_t Read(void* cls, std::uint64_t, char* buffer, std::size_t max) {
        auto& stream = *static_cast<TWebDoor::TStream*>(cls);
        if (stream.Closed) return stream.Door->stopping_ ? MHD_CONTENT_READER_END_OF_STREAM : MHD_CONTENT_READER_END_WITH_ERROR;
        if (stream.Pending.empty()) {
            // Nothing to say: the connection sleeps until Publish wakes it.
            Mhd().suspend_connection(stream.Connection);
            stream.Suspended = true;
            return 0;
        }
        const std::size_t n = std::min(max, stream.Pending.size());
        std::memcpy(buffer, stream.Pending.data(), n);
        stream.Pending.erase(0, n);
        return static_cast<ssize_t>(n);
    }

    static void Free(void* cls) {
        auto* stream = static_cast<TWebDoor::TStream*>(cls);
        stream->Door->streams_.erase(stream);
        delete stream;
    }
};

namespace {

// The headers every answer of the door carries; true when it is queued.
bool Queue(MHD_Connection* c, unsigned status, MHD_Response* r, std::string_view type,
           const std::vector<std::pair<std::string, std::string>>& headers) {
    Mhd().add_response_header(r, "Content-Type", std::string(type).c_str());
    Mhd().add_response_header(r, "Cache-Control", "no-store");
    Mhd().add_response_header(r, "X-Content-Type-Options", "nosniff");
    Mhd().add_response_header(r, "Referrer-Policy", "no-referrer");
    Mhd().add_response_header(r, "X-Frame-Options", "DENY");
    Mhd().add_response_header(r, "Content-Security-Policy", Policy);
    for (const auto& [name, value] : headers) Mhd().add_response_header(r, name.c_str(), value.c_str());
    const MHD_Result queued = Mhd().queue_response(c, status, r);
    Mhd().destroy_response(r);
    return queued == MHD_YES;
}

int Send(MHD_Connection* c, unsigned status, std::string_view type, std::string_view body,
         std::vector<std::pair<std::string, std::string>> headers = {}) {
    MHD_Response* r = Mhd().create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    return r != nullptr && Queue(c, status, r, type, headers);
}

int SendJson(MHD_Connection* c, unsigned status, const std::string& body,
             std::vector<std::pair<std::string, std::string>> headers = {}) {
    return Send(c, status, "application/json", body, std::move(headers));
}

int Refuse(MHD_Connection* c, unsigned status, const std::string& why,
           std::vector<std::pair<std::string, std::string>> headers = {}) {
    return SendJson(c, status, nlohmann::json{{"error", why}}.dump() + "\n", std::move(headers));
}

// An address that sent too many wrong tokens waits before it may try again.
int Slowed(MHD_Connection* c, std::int64_t waitMs) {
    return Refuse(c, MHD_HTTP_TOO_MANY_REQUESTS, "too many wrong tokens: wait",
                  {{"Retry-After", std::to_string((waitMs + 999) / 1000)}});
}

}  // namespace

TWebDoor::TWebDoor(TEventLoop& loop, TSwitchboard& board, THttpOptions options, std::string stateDir)
    : loop_(loop), board_(board), options_(std::move(options)), stateDir_(std::move(stateDir)) {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) machineName_ = std::string(host).substr(0, std::string(host).find('.'));
    tick_ = NewObj<TTimer>(1000);
    tick_->SetTickHandler({[](void* self, TTimer*) { static_cast<TWebDoor*>(self)->Tick(); }, this});
}

TWebDoor::~TWebDoor() { Stop(); }

TResult TWebDoor::LoadToken() {
    std::string path = options_.TokenFile;
    if (path.empty())
        if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY"); credentials != nullptr && *credentials == '/')
            if (const std::string file = std::string(credentials) + "/http-token"; access(file.c_str(), R_OK) == 0) path = file;
    if (!path.empty()) {
        if (!ReadSecretLine(path, token_)) return TResult::Fail(exitConfig, "cannot read the web token from " + path);
        if (token_.size() < 16) return TResult::Fail(exitConfig, "the web token in " + path + " is shorter than 16 characters");
        return TResult::Ok();
    }
    // None given: one of the daemon's own, made once and kept.
    path = stateDir_ + "/http-token";
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || (st.st_mode & 077) != 0 || st.st_uid != geteuid())
            return TResult::Fail(exitConfig, path + " is not a file of the daemon's alone (0600): not used");
        if (!ReadSecretLine(path, token_) || token_.size() < 16)
            return TResult::Fail(exitConfig, "cannot read the web token from " + path);
        Log("web: the token is in " + path);
        return TResult::Ok();
    }
    token_ = RandomHex(32);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (token_.empty() || fd < 0) return TResult::Fail(exitConfig, "cannot make the web token " + path + ": " + std::strerror(errno));
    const std::string line = token_ + "\n";
    const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    if (!written) return TResult::Fail(exitConfig, "cannot write the web token " + path);
    Log("web: made a token in " + path + " (give it to the page once, or as \"Authorization: Bearer\")");
    return TResult::Ok();
}

TResult TWebDoor::Start() {
    std::string why;
    if (loadedApi == nullptr && (loadedApi = MicrohttpdApi(why)) == nullptr) return TResult::Fail(exitConfig, why);
    if (TResult token = LoadToken(); !token) return token;
    if (!options_.TlsCert.empty() || !options_.TlsKey.empty()) {
        if (Mhd().is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
            return TResult::Fail(exitConfig, "this libmicrohttpd has no TLS");
        if (!ReadTlsFile(options_.TlsCert, cert_) || !ReadTlsFile(options_.TlsKey, key_))
            return TResult::Fail(exitConfig, "cannot read the TLS certificate or key (regular files of at most 64 KiB)");
        tls_ = true;
    }
    sockaddr_storage address{};
    const THttpAddress& a = options_.Address;
    if (a.V6()) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<std::uint16_t>(a.Port));
        inet_pton(AF_INET6, a.Host.c_str(), &v6.sin6_addr);
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<std::uint16_t>(a.Port));
        inet_pton(AF_INET, a.Host.c_str(), &v4.sin_addr);
    }
    unsigned flags = MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (a.V6()) flags |= MHD_USE_IPv6;
    if (tls_) flags |= MHD_USE_TLS;
    errno = 0;
    // The certificate and key go in only over HTTPS; the array ends at once otherwise.
    MHD_OptionItem tlsOptions[] = {
        {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(cert_.c_str())},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(key_.c_str())},
        {MHD_OPTION_END, 0, nullptr},
    };
    daemon_ = Mhd().start_daemon(
        flags, static_cast<std::uint16_t>(a.Port), nullptr, nullptr, &TWebCallbacks::Access, this, MHD_OPTION_EXTERNAL_LOGGER, &Logger, this,
        MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_CONNECTION_LIMIT, 128u, MHD_OPTION_PER_IP_CONNECTION_LIMIT, 100u,
        MHD_OPTION_CONNECTION_TIMEOUT, 30u, MHD_OPTION_CONNECTION_MEMORY_LIMIT, std::size_t{32768},
        MHD_OPTION_NOTIFY_COMPLETED, &TWebCallbacks::Completed, this,
        MHD_OPTION_ARRAY, tls_ ? tlsOptions : tlsOptions + 2, MHD_OPTION_END);
    const std::string where = (a.V6() ? "[" + a.Host + "]" : a.Host) + ":" + std::to_string(a.Port);
    if (daemon_ == nullptr)
        return TResult::Fail(exitUnavailable, "cannot serve the web door on " + where +
                                                  (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()));
    const MHD_DaemonInfo* info = Mhd().get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
    if (info == nullptr) return TResult::Fail(exitIoError, "the web door has no descriptor to watch");
    watch_ = loop_.Watch(info->epoll_fd, EPOLLIN, [this](std::uint32_t) { Run(); });
    if (!watch_) return TResult::Fail(exitIoError, "cannot watch the web door");
    tick_->SetEnabled(true);
    Log(std::string("web: serving ") + (tls_ ? "https://" : "http://") + where + "/");
    return TResult::Ok();
}

void TWebDoor::Run() {
    if (daemon_ != nullptr) Mhd().run(daemon_);
}

void TWebDoor::Tick() {
    Publish();  // the pulse's time left moves every second
    if (++ticks_ % KeepAliveTicks == 0) {
        for (TStream* s : streams_) s->Pending += ": keep-alive\n\n";
        WakeStreams();
    }
    Run();
}

std::string TWebDoor::StatusText() const {
    std::vector<TStatus> all;
    for (int c = 1; c <= board_.Channels(); ++c) all.push_back(board_.Channel(c).Status());
    std::string text = StatusesJson(all);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

void TWebDoor::Publish() {
    if (daemon_ == nullptr || stopping_ || streams_.empty()) return;
    const std::string status = StatusText();
    if (status == lastStatus_) return;
    lastStatus_ = status;
    for (TStream* s : streams_) {
        s->Pending += "event: status\ndata: " + status + "\n\n";
        if (s->Pending.size() > MaxStreamBacklog) s->Closed = true;  // a page that stopped reading
    }
    WakeStreams();
}

void TWebDoor::WakeStreams() {
    bool woken = false;
    for (TStream* s : streams_)
        if (s->Suspended) {
            s->Suspended = false;
            Mhd().resume_connection(s->Connection);
            woken = true;
        }
    // The library takes resumed connections up in its next turn, which their
    // sockets alone would not start: it is started here, from the loop.
    if (woken && !runPosted_) {
        runPosted_ = true;
        if (!loop_.Post([this] {
                runPosted_ = false;
                // One turn takes the resumed connections back, the next serves them.
                Run();
                Run();
            }))
            runPosted_ = false;
    }
}

void TWebDoor::Stop() {
    if (daemon_ == nullptr) return;
    stopping_ = true;
    tick_->SetEnabled(false);
    // Nothing suspended may stay so when the library stops.
    for (TExchange* e : waiting_) {
        e->Reply = TReply{exitUnavailable, "the daemon stops", board_.Status(), {}};
        e->Suspended = false;
        Mhd().resume_connection(e->Connection);
    }
    waiting_.clear();
    for (TStream* s : streams_) {
        s->Closed = true;
        if (s->Suspended) s->Suspended = false, Mhd().resume_connection(s->Connection);
    }
    watch_.reset();
    Mhd().run(daemon_);
    Mhd().stop_daemon(daemon_);
    daemon_ = nullptr;
}

bool TWebDoor::Authorized(MHD_Connection* c) const {
    if (const auto header = Header(c, "Authorization"); header && header->starts_with("Bearer "))
        return SecretsEqual(header->substr(7), token_);
    if (const auto cookie = Header(c, "Cookie")) {
        const std::string session = CookieValue(*cookie, CookieName);
        if (session.empty()) return false;
        bool found = false;
        for (const std::string& s : sessions_) found = SecretsEqual(s, session) || found;
        return found;
    }
    return false;
}

int TWebDoor::Handle(MHD_Connection* c, const std::string& url, const std::string& method, const char*, std::size_t*,
                     TExchange& exchange) {
    if (exchange.Reply) {
        // Back from the switching.
        const TReply reply = *exchange.Reply;
        return SendJson(c, StatusFor(reply.Code), ReplyLine(reply));
    }
    const auto host = Header(c, "Host");
    if (!host || !HostAllowed(*host, options_.Address, tls_, machineName_))
        return Refuse(c, MHD_HTTP_MISDIRECTED_REQUEST, "this daemon does not answer to that host name");
    if (exchange.TooLarge) return Refuse(c, MHD_HTTP_CONTENT_TOO_LARGE, "request too large");
    const bool read = method == "GET" || method == "HEAD";
    if (url.starts_with("/api/")) return Api(c, url, method, exchange);
    if (!read) return Refuse(c, MHD_HTTP_METHOD_NOT_ALLOWED, "the page is only read", {{"Allow", "GET, HEAD"}});
    if (url == "/") return Send(c, MHD_HTTP_OK, "text/html; charset=utf-8", WebPage(Header(c, "Accept-Language").value_or("")));
    if (const TWebAsset* asset = FindWebAsset(url)) return Send(c, MHD_HTTP_OK, asset->Type, asset->Body);
    return Refuse(c, MHD_HTTP_NOT_FOUND, "no such page");
}

int TWebDoor::Login(MHD_Connection* c, const TExchange& exchange) {
    const std::string address = ClientAddress(c);
    if (const std::int64_t wait = throttle_.WaitMs(address, SteadyMs()); wait > 0) return Slowed(c, wait);
    const nlohmann::json body = nlohmann::json::parse(exchange.Body, nullptr, false);
    const auto token = body.is_object() ? body.find("token") : body.end();
    if (token == body.end() || !token->is_string() || !SecretsEqual(token->get<std::string>(), token_)) {
        throttle_.Failed(address, SteadyMs());
        Log("web: a wrong token from " + address);
        return Refuse(c, MHD_HTTP_UNAUTHORIZED, "wrong token");
    }
    throttle_.Succeeded(address);
    const std::string session = RandomHex(32);
    if (session.empty()) return Refuse(c, MHD_HTTP_INTERNAL_SERVER_ERROR, "no randomness for a session");
    if (sessions_.size() >= MaxSessions) sessions_.pop_front();
    sessions_.push_back(session);
    return Send(c, MHD_HTTP_NO_CONTENT, "application/json", "",
                {{"Set-Cookie", std::string(CookieName) + "=" + session + "; Path=/; HttpOnly; SameSite=Strict" +
                                    (tls_ ? "; Secure" : "")}});
}

int TWebDoor::Api(MHD_Connection* c, const std::string& url, const std::string& method, TExchange& exchange) {
    const bool post = method == "POST";
    const auto origin = Header(c, "Origin");
    if (post && !OriginAllowed(origin, *Header(c, "Host"), tls_))
        return Refuse(c, MHD_HTTP_FORBIDDEN, "a request from another site's page is refused");
    if (url == "/api/v1/login") {
        if (!post) return Refuse(c, MHD_HTTP_METHOD_NOT_ALLOWED, "POST the token", {{"Allow", "POST"}});
        return Login(c, exchange);
    }
    // A script's token is a login of its own, slowed down alike when wrong.
    const std::string address = ClientAddress(c);
    const bool bearer = Header(c, "Authorization").has_value();
    if (const std::int64_t wait = throttle_.WaitMs(address, SteadyMs()); bearer && wait > 0) return Slowed(c, wait);
    if (!Authorized(c)) {
        if (bearer) throttle_.Failed(address, SteadyMs());
        return Refuse(c, MHD_HTTP_UNAUTHORIZED, "a token is needed", {{"WWW-Authenticate", "Bearer realm=\"modemswitch\""}});
    }
    // A page's session changes nothing without saying where it comes from.
    if (post && !origin && !Header(c, "Authorization")) return Refuse(c, MHD_HTTP_FORBIDDEN, "no Origin");
    if (url == "/api/v1/status") {
        if (post) return Refuse(c, MHD_HTTP_METHOD_NOT_ALLOWED, "GET the status", {{"Allow", "GET"}});
        return SendJson(c, MHD_HTTP_OK, StatusText() + "\n");
    }
    if (url == "/api/v1/events") {
        if (post) return Refuse(c, MHD_HTTP_METHOD_NOT_ALLOWED, "GET the events", {{"Allow", "GET"}});
        return Events(c);
    }
    if (url == "/api/v1/logout") {
        if (!post) return Refuse(c, MHD_HTTP_METHOD_NOT_ALLOWED, "POST to log out", {{"Allow", "POST"}});
        if (const auto cookie = Header(c, "Cookie")) {
            std::erase(sessions_, CookieValue(*cookie, CookieName));
        }
        return Send(c, MHD_HTTP_NO_CONTENT, "application/json", "",
                    {{"Set-Cookie", std::string(CookieName) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"}});
    }
    // /api/v1/switches/N/VERB
    constexpr std::string_view prefix = "/api/v1/switches/";
    if (!url.starts_with(prefix)) return Refuse(c, MHD_HTTP_NOT_FOUND, "no such route");
    const std::string rest = url.substr(prefix.size());
    const std::size_t slash = rest.find('/');
    const std::string number = rest.substr(0, slash), verb = slash == std::string::npos ? "" : rest.substr(slash + 1);
    TRequest request;
    if (number.size() != 1 || number[0] < '1' || number[0] > '8') return Refuse(c, MHD_HTTP_NOT_FOUND, "no such switch");
    request.Switch = number[0] - '0';
    const std::optional<TVerb> known = VerbFromName(verb);
    if (!known || (*known != TVerb::Reset && !Switches(*known))) return Refuse(c, MHD_HTTP_NOT_FOUND, "no such verb");
    if (!post) return Refuse(c, MHD_HTTP_METHOD_NOT_ALLOWED, "switching is a POST", {{"Allow", "POST"}});
    request.Verb = *known;
    if (request.Verb == TVerb::Pulse) {
        const nlohmann::json body = nlohmann::json::parse(exchange.Body, nullptr, false);
        const auto seconds = body.is_object() ? body.find("seconds") : body.end();
        std::string text;
        if (seconds != body.end() && seconds->is_string()) text = seconds->get<std::string>();
        if (seconds != body.end() && seconds->is_number_unsigned()) text = std::to_string(seconds->get<std::uint64_t>());
        if (!NormalizePulse(text, request.Seconds) || request.Seconds == "0")
            return Refuse(c, MHD_HTTP_BAD_REQUEST, "{\"seconds\": \"N\"} with N above 0 expected");
    }
    // The answer comes when the switching has one: the connection waits, the loop goes on.
    Mhd().suspend_connection(c);
    exchange.Suspended = true;
    exchange.Connection = c;
    waiting_.insert(&exchange);
    board_.Submit(request, [this, c, e = &exchange](const TReply& reply) {
        if (stopping_ || !waiting_.count(e)) return;
        waiting_.erase(e);
        e->Reply = reply;
        e->Suspended = false;
        Mhd().resume_connection(c);
    });
    return 1;
}

int TWebDoor::Events(MHD_Connection* c) {
    if (streams_.size() >= MaxStreams) return Refuse(c, MHD_HTTP_SERVICE_UNAVAILABLE, "too many pages open");
    // The pages open already hear of what changed first; the new one starts from now.
    Publish();
    lastStatus_ = StatusText();
    auto* stream = new TStream{this, c, "retry: 2000\nevent: status\ndata: " + lastStatus_ + "\n\n"};
    MHD_Response* r = Mhd().create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &TWebCallbacks::Read, stream, &TWebCallbacks::Free);
    if (r == nullptr) {
        delete stream;
        return 0;
    }
    streams_.insert(stream);
    return Queue(c, MHD_HTTP_OK, r, "text/event-stream", {});
}
