// Each kind of device as its peer on the wire sees it: the bytes a switch
// writes, and how the device's answers (or their absence) judge it. On the
// virtual clock, with a port that keeps what was written.

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <map>
#include <string>
#include <vector>

#include "app/service/device_kind.h"
#include "app/service/kinds/modbus_frame.h"
#include "tests/support/virtual_clock.h"

namespace {

class TRecordingIo final : public TPortIo {
public:
    bool Write(std::string_view bytes, std::uint32_t& written) override {
        Written += bytes;
        written = static_cast<std::uint32_t>(bytes.size());
        return true;
    }
    bool Read(std::string&, int) override { return false; }
    bool GetLines(int& bits) override { return bits = Lines, true; }
    bool SetLines(int raise, int lower) override {
        if (!Stuck) Lines = (Lines | raise) & ~lower;
        return true;
    }
    std::string Written;
    int Lines = TIOCM_DTR | TIOCM_RTS;  // as an open leaves them
    bool Stuck = false;
};

std::string Hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char c : bytes) std::snprintf(two, sizeof two, "%02x", c), out += two;
    return out;
}

std::string Bytes(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

struct TStep {
    enum { Switch, Answer, Wait } Kind;
    int Channel = 0;
    bool On = false;
    std::string Text;  // Answer: what the device sends (hex for Modbus)
    int Ms = 0;
};

struct TCase {
    std::string Name;
    TKindOptions Options;
    std::vector<TStep> Steps;
    std::string Written;  // hex of every byte written, in order
    std::string Answers;  // "2:ok 1:error(...)"; each answer as it came
};

TStep On(int c) { return {TStep::Switch, c, true, {}, 0}; }
TStep Off(int c) { return {TStep::Switch, c, false, {}, 0}; }
TStep Says(std::string text) { return {TStep::Answer, 0, false, std::move(text), 0}; }
TStep Wait(int ms) { return {TStep::Wait, 0, false, {}, ms}; }

// "1:ok 2:on": one item per channel's event, in the order they came.
void Add(std::string& list, int channel, const std::string& what) {
    list += (list.empty() ? "" : " ") + std::to_string(channel) + ":" + what;
}

TKindOptions Kind(TKindName name, int channels) {
    TKindOptions o;
    o.Name = name;
    o.Channels = channels;
    return o;
}

TEST(DeviceKinds, WriteWhatTheirDevicesUnderstandAndJudgeTheAnswers) {
    const std::string echo2 = Hex(WriteCoilFrame(1, 1, true)), echo1 = Hex(WriteCoilFrame(1, 0, false));
    const TCase cases[] = {
        {"modem: the scheme's bytes, OK and ERROR", Kind(TKindName::Modem, 1),
         {On(1), Says("ATH1\r\r\nOK\r\n"), Off(1), Says("ATH\r\r\nERROR\r\n")}, Hex("ATH1\rATH\r"),
         "1:ok 1:error(the modem answered ERROR to \"ATH\")"},
        {"lcus: a frame and the status query; the answer after it judges", Kind(TKindName::Lcus, 4),
         {On(2), Says("CH1: OFF\r\nch2:on\r\nCH3: OFF\r\n")}, "a00201a3ff", "2:ok"},
        {"lcus: two channels at once, each judged by the answer to its own query", Kind(TKindName::Lcus, 2),
         {On(1), On(2), Says("CH1: ON\r\nCH2: OFF\r\n"), Says("CH1: ON\r\nCH2: ON\r\n")}, "a00101a2ffa00201a3ff",
         "1:ok 2:ok"},
        {"lcus: an answer that contradicts the switch fails it", Kind(TKindName::Lcus, 1),
         {Off(1), Says("CH1: ON\r\n")}, "a00100a1ff", "1:error(the board reports channel 1 on after it was switched off)"},
        {"lcus: noise, half lines and other channels judge nothing", Kind(TKindName::Lcus, 3),
         {On(3), Says("\x01\x02garbage\r\nCH3 ON\r\nCH1: ON\r\nCH2: MAYBE\r\nCH"), Says("3: ON\r\n")}, "a00301a4ff",
         "3:ok"},
        {"modbus: function 05 on the coil, the echo confirms", Kind(TKindName::Modbus, 2), {On(2), Says(echo2)},
         echo2, "2:ok"},
        {"modbus: one request at a time on the bus", Kind(TKindName::Modbus, 2),
         {On(2), Off(1), Says(echo2.substr(0, 6)), Says(echo2.substr(6)), Says(echo1)}, echo2 + echo1, "2:ok 1:ok"},
        {"modbus: an exception fails the switch", Kind(TKindName::Modbus, 2),
         {On(2), Says(Hex(ModbusFrame({1, static_cast<char>(0x85), 2})))}, echo2,
         "2:error(the board answered exception 2 (illegal data address))"},
        {"modbus: silence for 500 ms fails it, and the next request goes", Kind(TKindName::Modbus, 2),
         {On(2), Off(1), Wait(499), Wait(1), Says(echo1)}, echo2 + echo1,
         "2:error(no answer from the board within 500 ms) 1:ok"},
        {"modbus: a reply of another unit is no answer", Kind(TKindName::Modbus, 1),
         {Off(1), Says(Hex(WriteCoilFrame(2, 0, false)))}, echo1,
         "1:error(the board's reply is not one to the request)"},
        {"lines: DTR raised and read back", Kind(TKindName::Lines, 2), {On(1), Off(2)}, "", "1:ok 2:ok"},
        {"lines: a line that does not move fails the switch", Kind(TKindName::Rts, 1), {Says("stuck"), Off(1)}, "",
         "1:error(RTS reads raised after it was lowered)"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualClock clock;
        TRecordingIo io;
        auto kind = MakeDeviceKind(c.Options);
        std::string answers;
        const auto note = [&](int channel, TAnswer answer, const std::string& fault) {
            Add(answers, channel, answer == TAnswer::Ok ? "ok" : "error(" + fault + ")");
        };
        kind->Answered = note;
        for (const TStep& step : c.Steps) {
            switch (step.Kind) {
                case TStep::Switch: {
                    const TSent sent = kind->Command(io, step.Channel, step.On ? "ATH1\r" : "ATH\r");
                    EXPECT_TRUE(sent.Written);
                    if (sent.Answer != TAnswer::Pending) note(step.Channel, sent.Answer, sent.Fault);
                    break;
                }
                case TStep::Answer:
                    if (step.Text == "stuck")
                        io.Stuck = true;
                    else
                        kind->Received(c.Options.Name == TKindName::Modbus ? Bytes(step.Text) : step.Text);
                    break;
                case TStep::Wait: clock.Advance(step.Ms); break;
            }
        }
        EXPECT_EQ(Hex(io.Written), c.Written);
        EXPECT_EQ(answers, c.Answers);
    }
}

// What each kind reads as the state at start.
TEST(DeviceKinds, ReadTheStateWhereTheDeviceTellsIt) {
    struct TStateCase {
        std::string Name;
        TKindOptions Options;
        std::string Asked;   // hex of the question
        std::string Answer;  // what comes back (hex for Modbus)
        std::string States;  // "1:off 2:on"
    };
    const TStateCase cases[] = {
        {"lcus", Kind(TKindName::Lcus, 3), "ff", "CH1: OFF\r\nCH2: ON\r\nCH3: OFF\r\nCH4: ON\r\n", "1:off 2:on 3:off 4:on"},
        {"modbus", Kind(TKindName::Modbus, 3), Hex(ReadCoilsFrame(1, 0, 3)), Hex(ModbusFrame({1, 1, 1, 0b101})),
         "1:on 2:off 3:on"},
        {"lines, just opened", Kind(TKindName::Lines, 2), "", "", "1:on 2:on"},
    };
    for (const TStateCase& c : cases) {
        SCOPED_TRACE(c.Name);
        VirtualClock clock;
        TRecordingIo io;
        auto kind = MakeDeviceKind(c.Options);
        std::string states;
        kind->StateRead = [&](int channel, bool on) { Add(states, channel, on ? "on" : "off"); };
        ASSERT_TRUE(kind->AskStates(io));
        EXPECT_EQ(Hex(io.Written), c.Asked);
        kind->Received(c.Options.Name == TKindName::Modbus ? Bytes(c.Answer) : c.Answer);
        EXPECT_EQ(states, c.States);
    }
    // A modem cannot be asked.
    TRecordingIo io;
    EXPECT_FALSE(MakeDeviceKind(Kind(TKindName::Modem, 1))->AskStates(io));

    // A board's later answers confirm switches; they are no state read.
    auto board = MakeDeviceKind(Kind(TKindName::Lcus, 2));
    int reads = 0;
    board->StateRead = [&](int, bool) { ++reads; };
    ASSERT_TRUE(board->AskStates(io));
    board->Received("CH1: OFF\r\nCH2: OFF\r\n");
    ASSERT_TRUE(board->Command(io, 2, "ATH1\r").Written);
    board->Received("CH1: OFF\r\nCH2: ON\r\n");
    EXPECT_EQ(reads, 2);
}

}  // namespace
