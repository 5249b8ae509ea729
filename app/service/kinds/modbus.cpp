// Relay boards on Modbus RTU: a channel is coil first + c - 1, switched by
// function 05; the board's echo confirms it, and an exception or silence
// within 500 ms fails it. The bus carries one request at a time: the rest
// wait their turn. At start the coils are read (function 01).
#include <deque>
#include <string>

#include "app/service/kinds/kinds.h"
#include "app/service/clock.h"
#include "app/service/kinds/modbus_frame.h"
#include "winlib/timer.h"

namespace {

constexpr std::int32_t ReplyWaitMs = 500;
constexpr std::size_t MaxReply = 256;

class TModbusKind final : public TDeviceKind {
public:
    explicit TModbusKind(const TKindOptions& options)
        : baud_(options.Baud), unit_(options.ModbusUnit), first_(options.ModbusFirstCoil), channels_(options.Channels) {
        timer_ = NewObj<TTimer>(ReplyWaitMs);
        timer_->SetTickHandler({[](void* self, TTimer* timer) {
                                    timer->SetEnabled(false);
                                    static_cast<TModbusKind*>(self)->Silence();
                                },
                                this});
    }

    std::string_view Answerer() const override { return "the board"; }
    std::string Settings(std::string_view) const override { return BoardSettings(baud_); }
    // Every channel may wait behind all the others: the kind answers first.
    std::uint32_t AnswerWaitMs() const override { return (ReplyWaitMs + 50) * 9; }

    TSent Command(TPortIo& io, int channel, std::string_view schemes) override {
        const std::optional<bool> on = SchemeSwitch(schemes);
        if (!on || channel < 1 || channel > channels_) return {};
        // A channel's new command replaces one of its own still waiting.
        std::erase_if(waiting_, [channel](const TRequest& r) { return r.Channel == channel; });
        if (!Send(io, {channel, WriteCoilFrame(unit_, first_ + channel - 1, *on)})) return {};
        return {true, TAnswer::Pending, {}};
    }

    bool AskStates(TPortIo& io) override { return Send(io, {0, ReadCoilsFrame(unit_, first_, channels_)}); }

    void Received(std::string_view bytes) override {
        if (!current_) return;  // nobody asked
        if (reply_.size() + bytes.size() > MaxReply) return Finish(TAnswer::Error, "the board sent more than a reply");
        reply_.append(bytes);
        const TModbusReply r = ParseModbusReply(current_->Frame, reply_);
        switch (r.Kind) {
            case TModbusReply::Incomplete: return;
            case TModbusReply::Garbage: return Finish(TAnswer::Error, "the board's reply is not one to the request");
            case TModbusReply::Exception:
                return Finish(TAnswer::Error, "the board answered exception " + std::to_string(r.Code) + " (" +
                                                  ModbusExceptionText(r.Code) + ")");
            case TModbusReply::Done:
                if (current_->Channel == 0 && StateRead)
                    for (int c = 1; c <= channels_; ++c)
                        StateRead(c, (static_cast<std::uint8_t>(r.Data[static_cast<std::size_t>(c - 1) / 8]) >> ((c - 1) % 8)) & 1);
                return Finish(TAnswer::Ok, {});
        }
    }

    // The core's wait is longer than the kind's own: whatever reaches here is settled already.
    TSent TimedOut(int) override { return {true, TAnswer::None, {}}; }

    void Finish(TPortIo& io) override {
        io_ = &io;
        for (int rounds = 0; current_ && rounds < 64; ++rounds) {
            const std::int64_t deadline = SteadyMs() + ReplyWaitMs;
            std::string bytes;
            while (current_ && SteadyMs() < deadline) {
                bytes.clear();
                if (io.Read(bytes, static_cast<int>(deadline - SteadyMs()))) Received(bytes);
            }
            if (current_) Silence();
        }
    }

    void Reset() override {
        timer_->SetEnabled(false);
        waiting_.clear();
        current_.reset();
        reply_.clear();
        io_ = nullptr;
    }

private:
    struct TRequest {
        int Channel;  // 0: the reading of every coil
        std::string Frame;
    };

    // Now, or after the request on the bus; false: it could not be written.
    bool Send(TPortIo& io, TRequest request) {
        io_ = &io;
        if (current_) {
            waiting_.push_back(std::move(request));
            return true;
        }
        return Start(std::move(request));
    }

    bool Start(TRequest request) {
        current_ = std::move(request);
        reply_.clear();
        if (!io_->WriteAll(current_->Frame)) {
            current_.reset();
            return false;
        }
        timer_->SetEnabled(true);
        return true;
    }

    void Next() {
        while (!current_ && !waiting_.empty() && io_ != nullptr) {
            TRequest request = std::move(waiting_.front());
            waiting_.pop_front();
            const int channel = request.Channel;
            if (!Start(std::move(request)) && channel != 0 && Answered)
                Answered(channel, TAnswer::Error, "the request could not be written");
        }
    }

    void Silence() {
        Finish(TAnswer::Error, "no answer from the board within " + std::to_string(ReplyWaitMs) + " ms");
    }

    void Finish(TAnswer answer, const std::string& fault) {
        timer_->SetEnabled(false);
        const TRequest done = std::move(*current_);
        current_.reset();
        reply_.clear();
        Next();
        if (done.Channel != 0 && Answered) Answered(done.Channel, answer, fault);
    }

    std::int32_t baud_;
    int unit_, first_, channels_;
    std::deque<TRequest> waiting_;
    std::optional<TRequest> current_;
    std::string reply_;
    TPortIo* io_ = nullptr;
    TObjPtr<TTimer> timer_;
};

}  // namespace

std::unique_ptr<TDeviceKind> MakeModbusKind(const TKindOptions& options) {
    return std::make_unique<TModbusKind>(options);
}
