// A relay on a modem control line: raised is on. Each change is read back
// at once (TIOCMGET); that reading is the confirmation.
#include <sys/ioctl.h>

#include <algorithm>
#include <string>

#include "app/service/kinds/kinds.h"

namespace {

class TLineKind final : public TDeviceKind {
public:
    explicit TLineKind(const TKindOptions& options) {
        if (options.Name == TKindName::Rts) bits_ = {TIOCM_RTS};
        else if (options.Name == TKindName::Lines) bits_ = {TIOCM_DTR, TIOCM_RTS};
        else bits_ = {TIOCM_DTR};
        bits_.resize(static_cast<std::size_t>(std::min<int>(options.Channels, static_cast<int>(bits_.size()))));
    }

    std::string_view Answerer() const override { return "the line"; }
    std::string Settings(std::string_view schemes) const override { return std::string(schemes); }
    // Every opening raises both lines: once open, the port stays open.
    bool KeepsPortOpen() const override { return true; }

    TSent Command(TPortIo& io, int channel, std::string_view schemes) override {
        const std::optional<bool> on = SchemeSwitch(schemes);
        if (!on || channel < 1 || channel > static_cast<int>(bits_.size())) return {};
        const int bit = bits_[static_cast<std::size_t>(channel - 1)];
        if (!io.SetLines(*on ? bit : 0, *on ? 0 : bit)) return {};
        int now = 0;
        if (!io.GetLines(now)) return {true, TAnswer::Error, "cannot read " + Name(bit) + " back"};
        if (((now & bit) != 0) != *on)
            return {true, TAnswer::Error, Name(bit) + " reads " + ((now & bit) ? "raised" : "lowered") + " after it was " +
                                              (*on ? "raised" : "lowered")};
        return {true, TAnswer::Ok, {}};
    }

    // Linux raised the lines as it opened the port: each goes to its known
    // state at once, lowered (off) when unknown.
    void Opened(TPortIo& io, const std::vector<std::optional<bool>>& known) override {
        int raise = 0, lower = 0;
        for (std::size_t c = 0; c < bits_.size(); ++c)
            (c < known.size() && known[c].value_or(false) ? raise : lower) |= bits_[c];
        io.SetLines(raise, lower);
    }

    bool AskStates(TPortIo& io) override {
        int now = 0;
        if (!io.GetLines(now)) return false;
        for (std::size_t c = 0; c < bits_.size(); ++c)
            if (StateRead) StateRead(static_cast<int>(c + 1), (now & bits_[c]) != 0);
        return true;
    }

    void Received(std::string_view) override {}  // a relay says nothing

private:
    static std::string Name(int bit) { return bit == TIOCM_DTR ? "DTR" : "RTS"; }
    std::vector<int> bits_;
};

}  // namespace

std::unique_ptr<TDeviceKind> MakeLineKind(const TKindOptions& options) { return std::make_unique<TLineKind>(options); }
