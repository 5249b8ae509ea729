// CH340 relay boards ("LCUS-1/2/4/8"): a channel switches on "A0 c 01 s"
// and off on "A0 c 00 s", s the low byte of the sum. Boards that answer the
// status query 0xFF send a line per channel, "CH1: ON" or "CH1: OFF"; that
// answer, asked for after every switch, is the confirmation. A board that
// does not answer leaves the switch unconfirmed.
#include <array>
#include <cctype>
#include <string>

#include "app/service/kinds/kinds.h"

namespace {

constexpr std::size_t MaxLine = 64;
constexpr char StatusQuery = '\xFF';

// "CH3: ON" -> channel 3, on. Blanks anywhere, letters in either case.
bool ParseStatusLine(std::string_view line, int& channel, bool& on) {
    std::string s;
    for (char c : line)
        if (c != ' ' && c != '\t') s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!s.starts_with("CH")) return false;
    std::size_t at = 2;
    channel = 0;
    while (at < s.size() && std::isdigit(static_cast<unsigned char>(s[at])) && channel < 100) channel = channel * 10 + (s[at++] - '0');
    if (at == 2 || at >= s.size() || s[at] != ':') return false;
    const std::string_view state = std::string_view(s).substr(at + 1);
    if (state != "ON" && state != "OFF") return false;
    on = state == "ON";
    return true;
}

class TLcusKind final : public TDeviceKind {
public:
    explicit TLcusKind(const TKindOptions& options) : baud_(options.Baud) {}

    std::string_view Answerer() const override { return "the board"; }
    std::string Settings(std::string_view) const override { return BoardSettings(baud_); }

    TSent Command(TPortIo& io, int channel, std::string_view schemes) override {
        const std::optional<bool> on = SchemeSwitch(schemes);
        if (!on || channel < 1 || channel > 8) return {};
        const char op = *on ? 1 : 0;
        const char frame[] = {'\xA0', static_cast<char>(channel), op,
                              static_cast<char>((0xA0 + channel + op) & 0xFF), StatusQuery};
        if (!io.WriteAll(std::string_view(frame, sizeof frame))) return {};
        expect_[static_cast<std::size_t>(channel)] = {true, *on, ++queries_};
        return {true, TAnswer::Pending, {}};
    }

    bool AskStates(TPortIo& io) override {
        if (!io.WriteAll(std::string_view(&StatusQuery, 1))) return false;
        asked_ = ++queries_;
        return true;
    }

    void Received(std::string_view bytes) override {
        SplitLines(partial_, bytes, MaxLine, [this](std::string_view line) { Line(line); });
    }

    TSent TimedOut(int channel) override {
        if (channel >= 1 && channel <= 8) expect_[static_cast<std::size_t>(channel)].Waiting = false;
        return {true, TAnswer::None, {}};
    }

    void Reset() override {
        partial_.clear();
        for (TExpect& e : expect_) e.Waiting = false;
        asked_ = 0;
        // Answers to what was asked before are not coming now.
        dumps_ = queries_;
    }

private:
    struct TExpect {
        bool Waiting = false;
        bool On = false;
        std::uint64_t Query = 0;  // the query whose answer judges it
    };

    void Line(std::string_view line) {
        int channel = 0;
        bool on = false;
        if (!ParseStatusLine(line, channel, on)) return;
        // Every answer starts with channel 1; answers come in the order asked.
        if (channel == 1 && dumps_ < queries_) ++dumps_;
        if (channel < 1 || channel > 8) return;
        // Only the answer to the state query itself is a state read; later
        // answers confirm switches.
        if (asked_ != 0 && dumps_ == asked_ && StateRead) StateRead(channel, on);
        TExpect& e = expect_[static_cast<std::size_t>(channel)];
        if (!e.Waiting || dumps_ < e.Query) return;
        e.Waiting = false;
        if (!Answered) return;
        if (on == e.On)
            Answered(channel, TAnswer::Ok, {});
        else
            Answered(channel, TAnswer::Error,
                     "the board reports channel " + std::to_string(channel) + (on ? " on" : " off") + " after it was switched " +
                         (e.On ? "on" : "off"));
    }

    std::int32_t baud_;
    std::string partial_;
    std::array<TExpect, 9> expect_{};
    std::uint64_t queries_ = 0, dumps_ = 0, asked_ = 0;
};

}  // namespace

std::unique_ptr<TDeviceKind> MakeLcusKind(const TKindOptions& options) { return std::make_unique<TLcusKind>(options); }
