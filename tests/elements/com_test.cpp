#include "elements/com.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_serial.h"
#include "tests/support/probes.h"
#include "tests/support/pty_fixture.h"
#include "tests/support/serial_pty.h"

namespace {

const char* const Definition2400 = "baud=2400 parity=N data=8 stop=1 octs=off";

TSource IntSource(std::int32_t n) {
    TSource s;
    SetInteger(s.Value, n);
    return s;
}

class ComTest : public ::testing::Test {
protected:
    void SetUp() override {
        StartFramework();
        com = std::make_unique<TQXCOM>();
        com->onWrite = QX_LINK(&written, doEvent, 0);
    }
    void TearDown() override {
        com.reset();
        StopFramework();
    }

    // The settings the modem-switching sub-scheme gives the element.
    void SchemeSettings() {
        com->PortIndex = 5;
        com->BaudRate = 2400;
        com->Parity = 0;
        com->Timeout = 1;
    }
    void Open() {
        TData none;
        com->doOpen(none, 0);
    }
    void WriteText(const char* text) {
        TData value;
        SetText(value, text);
        com->doWrite(value, 0);
    }
    std::vector<std::int32_t> Reported() const {
        std::vector<std::int32_t> out;
        for (const TData& v : written.Seen) out.push_back(v.Kind == dtInteger ? v.IntValue : -999);
        return out;
    }

    TFakeSerial serial;
    TRecorder written;
    std::unique_ptr<TQXCOM> com;
};

// --- Opening ---

TEST_F(ComTest, StartsClosedWithZeroSettings) {
    EXPECT_EQ(com->PortHandle, InvalidPortHandle);
    EXPECT_EQ(com->PortIndex, 0);
    EXPECT_EQ(com->BaudRate, 0);
    EXPECT_EQ(com->Parity, 0);
    EXPECT_EQ(com->Timeout, 0u);
    EXPECT_FALSE(com->Port.Linked());
    EXPECT_FALSE(com->Baud.Linked());
}

TEST_F(ComTest, OpensComSixAsTheSchemeConfiguresIt) {
    SchemeSettings();
    Open();
    ASSERT_NE(com->PortHandle, InvalidPortHandle);
    EXPECT_TRUE(serial.IsOpen(6));
    ASSERT_EQ(serial.Calls.size(), 2u);
    EXPECT_EQ(serial.Calls[0].Kind, TSerialCall::Open);
    EXPECT_EQ(serial.Calls[0].Device, "\\\\.\\Com6");
    EXPECT_EQ(serial.Calls[1].Kind, TSerialCall::Configure);
    EXPECT_EQ(serial.Calls[1].Handle, com->PortHandle);
    EXPECT_EQ(serial.Calls[1].Definition, Definition2400);
    EXPECT_EQ(serial.Calls[1].Definition.size(), 41u);
    EXPECT_EQ(serial.Calls[1].Timeout, 1u);
    EXPECT_TRUE(written.Seen.empty());  // opening reports nothing
}

TEST_F(ComTest, PortComesFromTheLinkedPointElseFromPortIndex) {
    com->PortIndex = 0;  // COM1 while Port is unlinked
    Open();
    EXPECT_EQ(serial.Calls[0].Device, "\\\\.\\Com1");

    TSource port = IntSource(6);
    com->PortIndex = 200;
    com->Port = QX_LINK(&port, readValue, 0);
    Open();
    EXPECT_EQ(serial.CallsOf(TSerialCall::Open).back().Device, "\\\\.\\Com6");

    com->Port = {};
    com->PortIndex = 255;
    Open();
    EXPECT_EQ(serial.CallsOf(TSerialCall::Open).back().Device, "\\\\.\\Com256");
}

TEST_F(ComTest, PortZeroOrNegativeFailsAndStaysClosed) {
    SchemeSettings();
    for (std::int32_t n : {0, -1}) {
        TSource port = IntSource(n);
        com->Port = QX_LINK(&port, readValue, 0);
        Open();
        EXPECT_EQ(com->PortHandle, InvalidPortHandle);
        EXPECT_EQ(serial.Calls.back().Kind, TSerialCall::Open);
        EXPECT_EQ(serial.Calls.back().Device, "\\\\.\\Com" + std::to_string(n));
        WriteText("ATH1\r");
        EXPECT_TRUE(written.Seen.empty());
    }
    EXPECT_TRUE(serial.CallsOf(TSerialCall::Write).empty());
}

TEST_F(ComTest, PortIsReadBeforeBaud) {
    std::vector<std::string> log;
    TSource port = IntSource(3);
    port.Log = &log;
    port.Name = "Port";
    TSource baud = IntSource(9600);
    baud.Log = &log;
    baud.Name = "Baud";
    com->Port = QX_LINK(&port, readValue, 0);
    com->Baud = QX_LINK(&baud, readValue, 0);
    com->BaudRate = 2400;
    Open();
    EXPECT_EQ(log, (std::vector<std::string>{"Port", "Baud"}));
    EXPECT_EQ(serial.Definition(3), "baud=9600 parity=N data=8 stop=1 octs=off");
}

TEST_F(ComTest, BaudFallsBackToTheEventValueOnlyWhenBaudRateIsZero) {
    com->PortIndex = 5;
    TData value;
    SetInteger(value, 4800);
    com->doOpen(value, 0);
    EXPECT_EQ(serial.Calls[0].Device, "\\\\.\\Com6");  // Port's default is never 0
    EXPECT_EQ(serial.Definition(6), "baud=4800 parity=N data=8 stop=1 octs=off");

    com->BaudRate = 2400;
    SetInteger(value, 4800);
    com->doOpen(value, 0);
    EXPECT_EQ(serial.Definition(6), Definition2400);

    TSource baud;
    baud.Value.Kind = dtBreak;  // a linked point answering Break falls back too
    com->Baud = QX_LINK(&baud, readValue, 0);
    SetInteger(value, 4800);
    com->doOpen(value, 0);
    EXPECT_EQ(serial.Definition(6), Definition2400);
}

TEST_F(ComTest, NoBaudAnywhereMakesATextThePortRefuses) {
    com->PortIndex = 5;
    Open();  // "baud=0 ..."
    EXPECT_EQ(serial.Calls[1].Definition, "baud=0 parity=N data=8 stop=1 octs=off");
    EXPECT_EQ(com->PortHandle, InvalidPortHandle);
    EXPECT_FALSE(serial.IsOpen(6));
}

TEST_F(ComTest, ParityPicksItsLetterAndOutOfRangeMeansNone) {
    SchemeSettings();
    const char* const letters[] = {"N", "O", "E", "M", "S"};
    for (std::int32_t p = 0; p <= 4; ++p) {
        com->Parity = p;
        Open();
        EXPECT_EQ(serial.Definition(6), std::string("baud=2400 parity=") + letters[p] + " data=8 stop=1 octs=off");
    }
    for (std::int32_t p : {5, -1, 1000000}) {
        com->Parity = p;
        Open();
        EXPECT_EQ(serial.Definition(6), Definition2400) << p;
        EXPECT_NE(com->PortHandle, InvalidPortHandle);
    }
}

TEST_F(ComTest, ReopeningClosesTheOldHandleFirst) {
    SchemeSettings();
    Open();
    const TPortHandle first = com->PortHandle;
    Open();
    ASSERT_NE(com->PortHandle, InvalidPortHandle);
    EXPECT_NE(com->PortHandle, first);
    ASSERT_EQ(serial.Calls.size(), 5u);
    EXPECT_EQ(serial.Calls[2].Kind, TSerialCall::Close);
    EXPECT_EQ(serial.Calls[2].Handle, first);
    EXPECT_EQ(serial.Calls[3].Kind, TSerialCall::Open);
    EXPECT_TRUE(serial.Calls[3].Ok);  // the exclusive open succeeds again
    EXPECT_EQ(serial.OpenCount(), 1);
}

TEST_F(ComTest, FailedOpenOrConfigurationLeavesThePortClosed) {
    SchemeSettings();
    Open();
    serial.SetInUse(6);
    Open();  // closes the open port, then cannot open it
    EXPECT_EQ(com->PortHandle, InvalidPortHandle);
    EXPECT_EQ(serial.OpenCount(), 0);

    serial.SetInUse(6, false);
    serial.SetConfigureFails(6);
    serial.Clear();
    Open();
    EXPECT_EQ(com->PortHandle, InvalidPortHandle);
    ASSERT_EQ(serial.Calls.size(), 3u);
    EXPECT_EQ(serial.Calls[2].Kind, TSerialCall::Close);
    EXPECT_EQ(serial.OpenCount(), 0);

    WriteText("ATH1\r");
    EXPECT_TRUE(written.Seen.empty());
    EXPECT_TRUE(serial.CallsOf(TSerialCall::Write).empty());
}

// --- Writing ---

TEST_F(ComTest, WritesTheTextFormOfTheValueAndReportsTheCount) {
    SchemeSettings();
    Open();
    WriteText("ATH1\r");
    WriteText("ATH\r");
    TData value;
    SetInteger(value, 42);
    com->doWrite(value, 0);
    SetInteger(value, -7);
    com->doWrite(value, 0);
    SetReal(value, 2.5);
    com->doWrite(value, 0);
    const std::string real(RealToText(2.5).view());

    EXPECT_EQ(serial.Output(6), "ATH1\rATH\r42-7" + real);
    EXPECT_EQ(Reported(),
              (std::vector<std::int32_t>{5, 4, 2, 2, static_cast<std::int32_t>(real.size())}));
    EXPECT_TRUE(serial.IsOpen(6));  // writing leaves the port open
}

TEST_F(ComTest, TextIsWrittenAsItsBytes) {
    SchemeSettings();
    Open();
    const std::string bytes("\xCE\xF2\x00\r\n", 5);  // Windows-1251 letters and a zero byte
    TData value;
    SetText(value, TText(bytes));
    com->doWrite(value, 0);
    EXPECT_EQ(serial.Output(6), bytes);
    EXPECT_EQ(Reported(), (std::vector<std::int32_t>{5}));
}

TEST_F(ComTest, NullAndOtherKindsWriteNothingAndReportZero) {
    SchemeSettings();
    Open();
    TData value;
    com->doWrite(value, 0);
    value.Kind = dtArray;
    com->doWrite(value, 0);
    EXPECT_EQ(serial.Output(6), "");
    EXPECT_EQ(Reported(), (std::vector<std::int32_t>{0, 0}));
    ASSERT_EQ(serial.CallsOf(TSerialCall::Write).size(), 2u);
}

TEST_F(ComTest, AClosedPortFiresNothingAtAll) {
    WriteText("ATH1\r");
    SchemeSettings();
    serial.SetMissing(6);
    Open();
    WriteText("ATH1\r");
    EXPECT_TRUE(written.Seen.empty());
    EXPECT_TRUE(serial.CallsOf(TSerialCall::Write).empty());
}

TEST_F(ComTest, AFailedWriteReportsZeroAndKeepsThePortOpen) {
    SchemeSettings();
    Open();
    serial.SetWriteFails(6);
    WriteText("ATH1\r");
    EXPECT_EQ(Reported(), (std::vector<std::int32_t>{0}));
    EXPECT_NE(com->PortHandle, InvalidPortHandle);
    serial.SetWriteFails(6, false);
    WriteText("ATH1\r");
    EXPECT_EQ(Reported(), (std::vector<std::int32_t>{0, 5}));
}

TEST_F(ComTest, AShortWriteReportsWhatWasTaken) {
    SchemeSettings();
    Open();
    serial.SetWriteLimit(6, 3);
    WriteText("ATH1\r");
    EXPECT_EQ(Reported(), (std::vector<std::int32_t>{3}));
}

TEST_F(ComTest, TheCountIsFiredAtOnceNotForwarded) {
    SchemeSettings();
    Open();
    // Reached through a link, as a scheme reaches it.
    TQX_Event write = QX_LINK(com.get(), doWrite, 0);
    TData value;
    SetText(value, "ATH\r");
    FireEvent(write, value);
    EXPECT_EQ(Reported(), (std::vector<std::int32_t>{4}));
    EXPECT_EQ(value.Kind & ForwardFlag, 0);
    EXPECT_EQ(value.NextEvent, nullptr);
}

// --- Closing ---

TEST_F(ComTest, CloseClosesOnceAndIsHarmlessWhenClosed) {
    TData none;
    com->doClose(none, 0);
    EXPECT_TRUE(serial.Calls.empty());
    SchemeSettings();
    Open();
    com->doClose(none, 0);
    com->doClose(none, 0);
    EXPECT_EQ(com->PortHandle, InvalidPortHandle);
    EXPECT_EQ(serial.CallsOf(TSerialCall::Close).size(), 1u);
    EXPECT_FALSE(serial.IsOpen(6));
    WriteText("ATH\r");
    EXPECT_TRUE(written.Seen.empty());
}

TEST_F(ComTest, DestructionClosesAnOpenPort) {
    SchemeSettings();
    Open();
    ASSERT_TRUE(serial.IsOpen(6));
    com.reset();
    EXPECT_FALSE(serial.IsOpen(6));
    EXPECT_EQ(serial.CallsOf(TSerialCall::Close).size(), 1u);
}

TEST_F(ComTest, TheHandleGoesBackToTheDeviceThatOpenedIt) {
    SchemeSettings();
    Open();
    {
        TFakeSerial other;
        WriteText("ATH1\r");
        com.reset();
        EXPECT_TRUE(other.Calls.empty());
    }
    EXPECT_EQ(serial.Output(6), "ATH1\r");
    EXPECT_FALSE(serial.IsOpen(6));
}

// --- The element on a pseudo-terminal port, through the platform's device ---

class ComPty : public TPtyTest {
protected:
    void SetUp() override {
        TPtyTest::SetUp();
        if (Ready()) StartFramework();
    }
    void TearDown() override { StopFramework(); }

    // As the modem-switching sub-scheme has it: Port linked to the number typed.
    void Configure(TQXCOM& com, TSource& number, TRecorder& recorder) {
        com.PortIndex = 5;
        com.BaudRate = 2400;
        com.Parity = 0;
        com.Timeout = 1;
        com.Port = QX_LINK(&number, readValue, 0);
        com.onWrite = QX_LINK(&recorder, doEvent, 0);
    }
    static void Send(TQXCOM& com, const char* text) {
        TData value;
        SetText(value, text);
        com.doWrite(value, 0);
    }

};

TEST_F(ComPty, SwitchesOnAndOffOverTheLine) {
    TQXCOM com;
    TSource number = IntSource(TSerialPty::Port);
    TRecorder recorder;
    Configure(com, number, recorder);
    TData none;
    com.doOpen(none, 0);
    ASSERT_NE(com.PortHandle, InvalidPortHandle);

    TPortReadback r;
    ASSERT_TRUE(ReadPortSettings(com.PortHandle, r));
    ExpectModemLine(r, "as the serial layer reads it");
    TPortReadback line;  // as the terminal itself has it
    ASSERT_TRUE(pty_->ReadTerminalSettings(line));
    ExpectModemLine(line, "as the terminal has it");

    Send(com, "ATH1\r");
    EXPECT_EQ(pty_->Read(5), "ATH1\r");
    Send(com, "ATH\r");
    EXPECT_EQ(pty_->Read(4), "ATH\r");
    ASSERT_EQ(recorder.Seen.size(), 2u);
    EXPECT_EQ(recorder.Seen[0].IntValue, 5);
    EXPECT_EQ(recorder.Seen[1].IntValue, 4);

    // Opening again closes first, so the exclusive open succeeds again.
    com.doOpen(none, 0);
    ASSERT_NE(com.PortHandle, InvalidPortHandle);
    Send(com, "ATH1\r");
    EXPECT_EQ(pty_->Read(5), "ATH1\r");
}

TEST_F(ComPty, ASecondElementCannotHaveThePortUntilTheFirstLetsGo) {
    if (RunsUnderWine()) GTEST_SKIP() << "Wine does not enforce share mode 0 on serial ports";
    TSource number = IntSource(TSerialPty::Port);
    TRecorder firstWrites, secondWrites;
    TQXCOM first, second;
    Configure(first, number, firstWrites);
    Configure(second, number, secondWrites);
    TData none;
    first.doOpen(none, 0);
    second.doOpen(none, 0);
    ASSERT_NE(first.PortHandle, InvalidPortHandle);
    EXPECT_EQ(second.PortHandle, InvalidPortHandle);
    Send(second, "ATH1\r");
    EXPECT_TRUE(secondWrites.Seen.empty());

    first.doClose(none, 0);
    second.doOpen(none, 0);
    EXPECT_NE(second.PortHandle, InvalidPortHandle);
}

TEST_F(ComPty, AMissingPortStaysClosedAndItsWriteFiresNothing) {
    TQXCOM com;
    TSource number = IntSource(TSerialPty::MissingPort);
    TRecorder recorder;
    Configure(com, number, recorder);
    TData none;
    com.doOpen(none, 0);
    EXPECT_EQ(com.PortHandle, InvalidPortHandle);
    Send(com, "ATH1\r");
    EXPECT_TRUE(recorder.Seen.empty());
}

}  // namespace
