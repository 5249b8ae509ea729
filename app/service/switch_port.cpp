#include "app/service/switch_port.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

class TSwitchPort::TIo final : public TPortIo {
public:
    explicit TIo(TSwitchPort& port) : port_(port) {}
    bool Write(std::string_view bytes, std::uint32_t& written) override {
        written = 0;
        if (port_.fd_ == InvalidPortHandle) return false;
        return port_.inner_.Write(port_.fd_, bytes.data(), static_cast<std::uint32_t>(bytes.size()), written);
    }
    bool Read(std::string& into, int ms) override {
        if (port_.fd_ == InvalidPortHandle) return false;
        pollfd p{static_cast<int>(port_.fd_), POLLIN, 0};
        if (poll(&p, 1, std::max(ms, 0)) <= 0) return false;
        char buffer[256];
        const ssize_t n = read(static_cast<int>(port_.fd_), buffer, sizeof buffer);
        if (n <= 0) return false;
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    bool GetLines(int& bits) override {
        return port_.fd_ != InvalidPortHandle && ioctl(static_cast<int>(port_.fd_), TIOCMGET, &bits) == 0;
    }
    bool SetLines(int raise, int lower) override {
        if (port_.fd_ == InvalidPortHandle) return false;
        const int fd = static_cast<int>(port_.fd_);
        return (lower == 0 || ioctl(fd, TIOCMBIC, &lower) == 0) && (raise == 0 || ioctl(fd, TIOCMBIS, &raise) == 0);
    }

private:
    TSwitchPort& port_;
};

TSwitchPort::TSwitchPort(TSerialDevice& inner, std::string devicePath, std::unique_ptr<TDeviceKind> kind, int channels)
    : DevicePath(std::move(devicePath)), inner_(inner), kind_(std::move(kind)), io_(std::make_unique<TIo>(*this)) {
    for (int c = 1; c <= std::max(1, channels); ++c) lines_.push_back(std::make_unique<TModemLine>(DevicePath, c, *kind_));
    kind_->Answered = [this](int channel, TAnswer answer, const std::string& fault) {
        if (channel >= 1 && channel <= Channels()) Line(channel).Answer(answer, fault);
    };
    kind_->StateRead = [this](int channel, bool on) {
        if (!asking_ || channel < 1 || channel > Channels()) return;
        if (Line(channel).StateRead) Line(channel).StateRead(on);
    };
    askTimer_ = NewObj<TTimer>(static_cast<std::int32_t>(std::min<std::uint32_t>(kind_->AnswerWaitMs(), 1000)));
    askTimer_->SetTickHandler({[](void* self, TTimer* timer) {
                                   timer->SetEnabled(false);
                                   auto& port = *static_cast<TSwitchPort*>(self);
                                   if (!port.asking_) return;
                                   port.asking_ = false;
                                   port.Release();
                               },
                               this});
}

TSwitchPort::~TSwitchPort() {
    askTimer_->SetEnabled(false);
    if (fd_ != InvalidPortHandle) CloseDevice();
}

TModemLine* TSwitchPort::LineOf(TPortHandle port) {
    if (port < 1 || port > Channels()) return nullptr;
    return &Line(static_cast<int>(port));
}

bool TSwitchPort::Acquire(TModemLine* line) {
    if (fd_ == InvalidPortHandle) {
        errno = 0;
        const TPortHandle fd = inner_.Open(DevicePath);
        if (fd == InvalidPortHandle) {
            const int error = errno != 0 ? errno : EIO;
            if (line != nullptr) line->OpenFailed(error);
            return false;
        }
        fd_ = fd;
        holders_ = 0;
        if (Opened) Opened(fd_);
        std::vector<std::optional<bool>> known;
        for (const auto& l : lines_) known.push_back(l->Known());
        kind_->Opened(*io_, known);
        if (kind_->KeepsPortOpen()) {
            held_ = true;
            ++holders_;
        }
    }
    ++holders_;
    if (line != nullptr) line->Opened();
    return true;
}

void TSwitchPort::Release() {
    if (holders_ > 0) --holders_;
    if (holders_ == 0 && fd_ != InvalidPortHandle) CloseDevice();
}

void TSwitchPort::CloseDevice() {
    if (Closing) Closing(fd_);
    inner_.Close(fd_);
    fd_ = InvalidPortHandle;
    holders_ = 0;
    held_ = false;
    kind_->Reset();
}

TPortHandle TSwitchPort::Open(std::string_view deviceName) {
    TModemLine* line = LineOf(SerialPortNumber(deviceName));
    if (line == nullptr) {
        errno = ENOENT;
        return InvalidPortHandle;
    }
    if (!Acquire(line)) return InvalidPortHandle;
    return line->Channel;
}

bool TSwitchPort::Configure(TPortHandle port, std::string_view definition, std::uint32_t timeoutMs) {
    if (LineOf(port) == nullptr || fd_ == InvalidPortHandle) return false;
    return inner_.Configure(fd_, kind_->Settings(definition), timeoutMs);
}

bool TSwitchPort::Write(TPortHandle port, const char* bytes, std::uint32_t count, std::uint32_t& written) {
    written = 0;
    TModemLine* line = LineOf(port);
    if (line == nullptr) return false;
    if (line->Writing) line->Writing();
    const std::string_view schemes(bytes, count);
    TSent sent;
    if (line->TakeKeptCommand())
        sent = {true, TAnswer::Ok, {}};
    else if (fd_ != InvalidPortHandle && line->Open())
        sent = kind_->Command(*io_, line->Channel, schemes);
    const std::int64_t taken = sent.Taken >= 0 ? sent.Taken : (sent.Written ? count : 0);
    written = static_cast<std::uint32_t>(std::clamp<std::int64_t>(taken, 0, count));
    line->Sent(schemes, sent);
    return true;
}

void TSwitchPort::Close(TPortHandle port) {
    TModemLine* line = LineOf(port);
    if (line == nullptr || !line->Open()) return;
    line->Closed();
    Release();
}

void TSwitchPort::Received(std::string_view bytes) { kind_->Received(bytes); }

void TSwitchPort::Finish() {
    if (fd_ != InvalidPortHandle) kind_->Finish(*io_);
}

void TSwitchPort::Lost() {
    kind_->Reset();
    for (const auto& line : lines_) line->Forget();
    if (asking_) {
        asking_ = false;
        askTimer_->SetEnabled(false);
        Release();
    }
    if (held_) {
        held_ = false;
        Release();
    }
}

bool TSwitchPort::AskStates() {
    if (asking_ || !Acquire(nullptr)) return false;
    asking_ = true;
    if (!kind_->AskStates(*io_)) {
        asking_ = false;
        Release();
        return false;
    }
    askTimer_->SetEnabled(true);
    return true;
}
