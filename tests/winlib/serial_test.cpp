#include "winlib/serial.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <termios.h>
#endif

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_serial.h"
#include "tests/support/pty_fixture.h"
#include "tests/support/serial_pty.h"

#if !defined(_WIN32)
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#endif

namespace {

const char* const Definition2400 = "baud=2400 parity=N data=8 stop=1 octs=off";

std::string PortName(std::int32_t n) { return "\\\\.\\Com" + std::to_string(n); }

TEST(SerialNames, PortNumberComesOnlyFromAWellFormedName) {
    EXPECT_EQ(SerialPortNumber("\\\\.\\Com6"), 6);
    EXPECT_EQ(SerialPortNumber("\\\\.\\COM6"), 6);
    EXPECT_EQ(SerialPortNumber("com12"), 12);
    EXPECT_EQ(SerialPortNumber("\\\\.\\Com256"), 256);
    for (const char* bad : {"\\\\.\\Com0", "\\\\.\\Com-1", "\\\\.\\Com+6", "\\\\.\\Com06", "\\\\.\\Com6x",
                            "\\\\.\\Com", "\\\\.\\Com 6", "\\\\.\\Lpt1", "\\\\?\\Com6", "Com99999999999", ""})
        EXPECT_EQ(SerialPortNumber(bad), 0) << bad;
}

TEST(SerialDefinition, TheElementsTextGivesTwentyFourHundredEightNOne) {
    TSerialSettings s;
    ASSERT_TRUE(ParseSerialDefinition(Definition2400, s));
    EXPECT_EQ(s.Baud, 2400);
    EXPECT_EQ(s.Parity, 'N');
    EXPECT_EQ(s.DataBits, 8);
    EXPECT_EQ(s.StopBits, 10);
    EXPECT_EQ(s.OutCtsFlow, 0);
}

TEST(SerialDefinition, KeysAndLettersInEitherCaseAndOnlyNamedSettingsChange) {
    TSerialSettings s;
    ASSERT_TRUE(ParseSerialDefinition("BAUD=9600 Parity=e  stop=1.5\tOCTS=ON", s));
    EXPECT_EQ(s.Baud, 9600);
    EXPECT_EQ(s.Parity, 'E');
    EXPECT_EQ(s.DataBits, 0);
    EXPECT_EQ(s.StopBits, 15);
    EXPECT_EQ(s.OutCtsFlow, 1);

    const std::string letters = "NOEMS";
    for (char c : letters) {
        ASSERT_TRUE(ParseSerialDefinition(std::string("parity=") + c, s));
        EXPECT_EQ(s.Parity, c);
        EXPECT_EQ(s.Baud, 0);
        EXPECT_EQ(s.OutCtsFlow, -1);
    }
    ASSERT_TRUE(ParseSerialDefinition("data=5 stop=2 baud=300 baud=1200", s));
    EXPECT_EQ(s.DataBits, 5);
    EXPECT_EQ(s.StopBits, 20);
    EXPECT_EQ(s.Baud, 1200);  // the last one counts
}

TEST(SerialDefinition, AnythingElseIsRefusedAndLeavesTheSettingsAlone) {
    for (const char* bad :
         {"", "   ", "baud", "baud=", "=2400", "baud=0", "baud=-2400", "baud=+2400", "baud=2400x", "baud=0240",
          "baud=99999999999", "parity=X", "parity=NO", "parity=", "data=4", "data=9", "data=88", "stop=0", "stop=3",
          "stop=1.0", "octs=yes", "xon=on", "baud=2400 parity=N data=8 stop=1 octs=off junk", "baud==2400",
          "baud=2400,parity=N"}) {
        TSerialSettings s;
        s.Baud = 77;
        EXPECT_FALSE(ParseSerialDefinition(bad, s)) << '"' << bad << '"';
        EXPECT_EQ(s.Baud, 77) << bad;
    }
    TSerialSettings s;
    EXPECT_FALSE(ParseSerialDefinition(std::string_view("baud=2400\0 parity=N", 19), s));
}

// The Wine tests read the line settings back through `stty -a`.
TEST(SerialStty, ReadsTheSettingsSttyPrints) {
    const char* raw =
        "speed 2400 baud; rows 0; columns 0; line = 0;\n"
        "intr = ^C; min = 1; time = 0;\n"
        "-parenb -parodd -cmspar cs8 -hupcl -cstopb cread clocal -crtscts\n"
        "-ignbrk -brkint -ignpar -parmrk -inpck -istrip -inlcr -igncr -icrnl -ixon -ixoff\n"
        "-opost -olcuc -ocrnl -onlcr\n"
        "-isig -icanon -iexten -echo -echoe -echok -echonl\n";
    TPortReadback r;
    ASSERT_TRUE(ParseSttySettings(raw, r));
    ExpectModemLine(r, "parsed from stty");
    EXPECT_TRUE(r.Raw);

    const char* cooked = "speed 9600 baud; parenb parodd cmspar cs7 cstopb crtscts icanon echo";
    ASSERT_TRUE(ParseSttySettings(cooked, r));
    EXPECT_EQ(r.Baud, 9600);
    EXPECT_EQ(r.DataBits, 7);
    EXPECT_EQ(r.Parity, 'M');
    EXPECT_EQ(r.StopBits, 20);
    EXPECT_TRUE(r.OutCtsFlow);
    EXPECT_FALSE(r.Raw);  // line editing on
    ASSERT_TRUE(ParseSttySettings("speed 300 baud; parenb -parodd cs5", r));
    EXPECT_EQ(r.Parity, 'E');

    for (const char* bad : {"", "stty: /dev/x: No such file or directory", "speed baud; cs8", "speed 2400 baud;",
                            "speed -5 baud; cs8", "speed 99999999999 baud; cs8", "cs8 speed"}) {
        TPortReadback untouched;
        untouched.Baud = 77;
        EXPECT_FALSE(ParseSttySettings(bad, untouched)) << bad;
        EXPECT_EQ(untouched.Baud, 77) << bad;
    }
}

TEST(SerialCurrentDevice, TheFakeInstallsItselfAndPutsBackWhatWasThere) {
    TSerialDevice* platform = &PlatformSerialDevice();
    EXPECT_EQ(&CurrentSerialDevice(), platform);
    {
        TFakeSerial outer;
        EXPECT_EQ(&CurrentSerialDevice(), &outer);
        {
            TFakeSerial inner;
            EXPECT_EQ(&CurrentSerialDevice(), &inner);
        }
        EXPECT_EQ(&CurrentSerialDevice(), &outer);
    }
    EXPECT_EQ(&CurrentSerialDevice(), platform);

    TFakeSerial fake;
    TSerialDevice* previous = SetSerialDevice(nullptr);
    EXPECT_EQ(previous, &fake);
    EXPECT_EQ(&CurrentSerialDevice(), platform);
    SetSerialDevice(previous);
}

// The fake stands in for the port in every scheme test, so it must behave
// like a port where it matters: exclusive, quiet failures, honest counts.
TEST(SerialFake, BehavesLikeAnExclusivePort) {
    TFakeSerial fake;
    const TPortHandle h = fake.Open(PortName(6));
    ASSERT_NE(h, InvalidPortHandle);
    EXPECT_TRUE(fake.IsOpen(6));
    EXPECT_EQ(fake.Open(PortName(6)), InvalidPortHandle);
    EXPECT_EQ(fake.Open(PortName(0)), InvalidPortHandle);
    EXPECT_EQ(fake.Open("nonsense"), InvalidPortHandle);
    EXPECT_TRUE(fake.Configure(h, Definition2400, 1));
    EXPECT_FALSE(fake.Configure(h, "baud=2400 parity=Q", 1));
    EXPECT_EQ(fake.Definition(6), Definition2400);
    EXPECT_EQ(fake.Timeout(6), 1u);

    std::uint32_t written = 99;
    EXPECT_TRUE(fake.Write(h, "ATH1\r", 5, written));
    EXPECT_EQ(written, 5u);
    fake.Close(h);
    EXPECT_FALSE(fake.IsOpen(6));
    EXPECT_FALSE(fake.Write(h, "ATH\r", 4, written));
    EXPECT_EQ(written, 0u);

    const TPortHandle again = fake.Open(PortName(6));
    ASSERT_NE(again, InvalidPortHandle);
    EXPECT_NE(again, h);
    EXPECT_TRUE(fake.Write(again, "ATH\r", 4, written));
    EXPECT_EQ(fake.Output(6), "ATH1\rATH\r");
    fake.Close(again);
    fake.Close(again);  // twice: recorded, harmless

    ASSERT_EQ(fake.Calls.size(), 13u);
    EXPECT_EQ(fake.CallsOf(TSerialCall::Open).size(), 5u);
    const TSerialCall& write = fake.Calls[6];
    EXPECT_EQ(write.Kind, TSerialCall::Write);
    EXPECT_EQ(write.Device, PortName(6));
    EXPECT_EQ(write.Port, 6);
    EXPECT_EQ(write.Bytes, "ATH1\r");
    EXPECT_TRUE(write.Ok);
    EXPECT_FALSE(fake.Calls.back().Ok);
    EXPECT_EQ(fake.OpenCount(), 0);
}

TEST(SerialFake, PortsFailAsTheyAreTold) {
    TFakeSerial fake;
    fake.SetMissing(3);
    fake.SetInUse(4);
    fake.SetConfigureFails(5);
    fake.SetWriteFails(6);
    fake.SetWriteLimit(7, 2);
    EXPECT_EQ(fake.Open(PortName(3)), InvalidPortHandle);
    EXPECT_EQ(fake.Open(PortName(4)), InvalidPortHandle);
    const TPortHandle five = fake.Open(PortName(5));
    EXPECT_FALSE(fake.Configure(five, Definition2400, 1));
    EXPECT_EQ(fake.Definition(5), "");

    std::uint32_t written = 0;
    const TPortHandle six = fake.Open(PortName(6));
    EXPECT_FALSE(fake.Write(six, "ATH1\r", 5, written));
    EXPECT_EQ(fake.Output(6), "");
    EXPECT_TRUE(fake.IsOpen(6));

    const TPortHandle seven = fake.Open(PortName(7));
    EXPECT_TRUE(fake.Write(seven, "ATH1\r", 5, written));
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(fake.Output(7), "AT");

    fake.SetMissing(3, false);
    EXPECT_NE(fake.Open(PortName(3)), InvalidPortHandle);
}

#if !defined(_WIN32)
TEST(SerialDevicePath, PortNumberMapsToTheComDirectoryOrTheSerialDevices) {
    namespace fs = std::filesystem;
    const char* saved = std::getenv("MODEMSWITCH_COM_DIR");
    const std::string old = saved ? saved : "";
    const fs::path dir = fs::temp_directory_path() / ("serial-path-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "plain").put('x');

    unsetenv("MODEMSWITCH_COM_DIR");
    EXPECT_EQ(SerialDevicePath(6), "/dev/ttyS5");
    EXPECT_EQ(SerialDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(SerialDevicePath(0), "");
    EXPECT_EQ(SerialDevicePath(-1), "");
    setenv("MODEMSWITCH_COM_DIR", dir.c_str(), 1);
    EXPECT_EQ(SerialDevicePath(6), (dir / "com6").string());
    setenv("MODEMSWITCH_COM_DIR", (dir / "plain").c_str(), 1);  // not a directory
    EXPECT_EQ(SerialDevicePath(6), "/dev/ttyS5");
    setenv("MODEMSWITCH_COM_DIR", "", 1);
    EXPECT_EQ(SerialDevicePath(6), "/dev/ttyS5");

    if (saved)
        setenv("MODEMSWITCH_COM_DIR", old.c_str(), 1);
    else
        unsetenv("MODEMSWITCH_COM_DIR");
    fs::remove_all(dir);
}
#endif

// The platform's own device on a pseudo-terminal that stands in for the modem.
class SerialPty : public TPtyTest {
protected:
    void TearDown() override {
        for (TPortHandle h : open_) device_.Close(h);
    }

    TPortHandle OpenPort(std::int32_t n) {
        const TPortHandle h = device_.Open(PortName(n));
        if (h != InvalidPortHandle) open_.push_back(h);
        return h;
    }
    void ClosePort(TPortHandle h) {
        device_.Close(h);
        std::erase(open_, h);
    }

    TSerialDevice& device_ = PlatformSerialDevice();
    std::vector<TPortHandle> open_;
};

TEST_F(SerialPty, CommandsArriveByteForByte) {
    const TPortHandle h = OpenPort(TSerialPty::Port);
    ASSERT_NE(h, InvalidPortHandle);
    ASSERT_TRUE(device_.Configure(h, Definition2400, 1));
    std::uint32_t written = 0;
    ASSERT_TRUE(device_.Write(h, "ATH1\r", 5, written));
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(pty_->Read(5), "ATH1\r");
    ASSERT_TRUE(device_.Write(h, "ATH\r", 4, written));
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(pty_->Read(4), "ATH\r");
    // Nothing more: no terminator or line end was added.
    EXPECT_EQ(pty_->Read(1, 100), "");

    ASSERT_TRUE(device_.Write(h, "", 0, written));
    EXPECT_EQ(written, 0u);
}

TEST_F(SerialPty, ConfiguredAsTwentyFourHundredEightNOneWithoutCtsFlow) {
    const TPortHandle h = OpenPort(TSerialPty::Port);
    ASSERT_NE(h, InvalidPortHandle);
    // Start from other settings, so the readback shows what Configure did.
    // A pseudo-terminal always keeps 8 data bits, so only these can differ.
    ASSERT_TRUE(device_.Configure(h, "baud=9600 stop=2 octs=on", 5));
    TPortReadback before;
    ASSERT_TRUE(ReadPortSettings(h, before));
    EXPECT_EQ(before.Baud, 9600);
    EXPECT_EQ(before.StopBits, 20);
    EXPECT_TRUE(before.OutCtsFlow);

    ASSERT_TRUE(device_.Configure(h, Definition2400, 1));
    TPortReadback r;
    ASSERT_TRUE(ReadPortSettings(h, r));
    ExpectModemLine(r, "as the serial layer reads it");
    EXPECT_TRUE(r.Raw);

    // The terminal itself agrees, not only the serial layer that set it.
    TPortReadback line;
    ASSERT_TRUE(pty_->ReadTerminalSettings(line));
    ExpectModemLine(line, "as the terminal has it");
    EXPECT_TRUE(line.Raw);
}

#if !defined(_WIN32)
// Closing the port leaves the line as it was (no hang-up on close), and
// the port never waits for a carrier.
TEST_F(SerialPty, AConfiguredPortNeitherHangsUpOnCloseNorWaitsForCarrier) {
    const TPortHandle h = OpenPort(TSerialPty::Port);
    ASSERT_NE(h, InvalidPortHandle);
    termios t;
    ASSERT_EQ(tcgetattr(static_cast<int>(h), &t), 0);
    t.c_cflag = (t.c_cflag | HUPCL) & ~CLOCAL;  // what a fresh serial device usually has
    ASSERT_EQ(tcsetattr(static_cast<int>(h), TCSANOW, &t), 0);
    ASSERT_TRUE(device_.Configure(h, Definition2400, 1));
    ASSERT_EQ(tcgetattr(static_cast<int>(h), &t), 0);
    EXPECT_EQ(t.c_cflag & HUPCL, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
}
#endif

TEST_F(SerialPty, ATextThePortCannotUnderstandFailsConfigure) {
    const TPortHandle h = OpenPort(TSerialPty::Port);
    ASSERT_NE(h, InvalidPortHandle);
    EXPECT_FALSE(device_.Configure(h, "baud=2400 parity=Q data=8 stop=1 octs=off", 1));
#if !defined(_WIN32)
    // The Win32 builder takes an empty text as "change nothing"; ours refuses it.
    EXPECT_FALSE(device_.Configure(h, "", 1));
#endif
}

TEST_F(SerialPty, OpenIsExclusiveUntilClosed) {
    if (RunsUnderWine()) GTEST_SKIP() << "Wine does not enforce share mode 0 on serial ports";
    const TPortHandle first = OpenPort(TSerialPty::Port);
    ASSERT_NE(first, InvalidPortHandle);
    EXPECT_EQ(OpenPort(TSerialPty::Port), InvalidPortHandle);
    ClosePort(first);
    const TPortHandle again = OpenPort(TSerialPty::Port);
    EXPECT_NE(again, InvalidPortHandle);
}

TEST_F(SerialPty, AMissingPortFailsQuietly) {
    const TPortHandle h = OpenPort(TSerialPty::MissingPort);
    EXPECT_EQ(h, InvalidPortHandle);
    EXPECT_EQ(OpenPort(0), InvalidPortHandle);
    EXPECT_EQ(OpenPort(-1), InvalidPortHandle);
    EXPECT_FALSE(device_.Configure(InvalidPortHandle, Definition2400, 1));
    std::uint32_t written = 7;
    EXPECT_FALSE(device_.Write(InvalidPortHandle, "ATH1\r", 5, written));
    EXPECT_EQ(written, 0u);
}

#if !defined(_WIN32)
// Off Windows only handles the device opened itself are used: a stray
// number never reaches someone else's descriptor.
TEST(SerialPosix, HandlesTheDeviceDidNotOpenAreLeftAlone) {
    TSerialDevice& device = PlatformSerialDevice();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::uint32_t written = 0;
    EXPECT_FALSE(device.Configure(fds[1], Definition2400, 1));
    EXPECT_FALSE(device.Write(fds[1], "x", 1, written));
    device.Close(fds[1]);
    EXPECT_EQ(write(fds[1], "y", 1), 1);  // still open
    close(fds[0]);
    close(fds[1]);
}

TEST_F(SerialPty, AWriteTheOtherEndDoesNotTakeEndsAtTheTimeOut) {
    const TPortHandle h = OpenPort(TSerialPty::Port);
    ASSERT_NE(h, InvalidPortHandle);
    // No time-out: takes what fits now, so a large write comes back short.
    ASSERT_TRUE(device_.Configure(h, Definition2400, 0));
    const std::string big(1 << 16, 'x');
    std::uint32_t written = 0;
    ASSERT_TRUE(device_.Write(h, big.data(), static_cast<std::uint32_t>(big.size()), written));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    // Fill the pair for good. The kernel hands queued bytes on a little
    // later, which frees room again, and small writes still fit into
    // recycled buffers after a big one was refused: full means that no
    // write size takes anything and no room shows up for a while.
    pollfd room{static_cast<int>(h), POLLOUT, 0};
    bool full = false;
    for (int rounds = 0; !full && rounds < 100; ++rounds) {
        bool took = false;
        for (std::uint32_t size : {std::uint32_t{1} << 16, 256u, 1u}) {
            while (device_.Write(h, big.data(), size, written) && written > 0) took = true;
        }
        full = !took && poll(&room, 1, 100) == 0;
    }
    ASSERT_TRUE(full) << "the pair never filled up";
    // With 1 ms the full pair makes the write wait 6 ms, then report nothing taken.
    ASSERT_TRUE(device_.Configure(h, Definition2400, 1));
    ASSERT_TRUE(device_.Write(h, "ATH1\r", 5, written));
    EXPECT_EQ(written, 0u);
    pty_->Drain();
}

TEST_F(SerialPty, SttyOfTheTerminalAgreesWithItsTermios) {
    const TPortHandle h = OpenPort(TSerialPty::Port);
    ASSERT_NE(h, InvalidPortHandle);
    for (const char* definition : {"baud=9600 stop=2 octs=on", Definition2400}) {
        ASSERT_TRUE(device_.Configure(h, definition, 1));
        TPortReadback viaTermios, viaStty;
        ASSERT_TRUE(pty_->ReadTerminalSettings(viaTermios));
        const std::string command = "stty -F " + SerialDevicePath(TSerialPty::Port) + " -a 2>/dev/null";
        std::string text;
        if (FILE* f = popen(command.c_str(), "r")) {
            char buffer[512];
            while (const std::size_t n = fread(buffer, 1, sizeof buffer, f)) text.append(buffer, n);
            pclose(f);
        }
        ASSERT_TRUE(ParseSttySettings(text, viaStty)) << text;
        EXPECT_EQ(viaStty.Baud, viaTermios.Baud) << definition;
        EXPECT_EQ(viaStty.DataBits, viaTermios.DataBits) << definition;
        EXPECT_EQ(viaStty.Parity, viaTermios.Parity) << definition;
        EXPECT_EQ(viaStty.StopBits, viaTermios.StopBits) << definition;
        EXPECT_EQ(viaStty.OutCtsFlow, viaTermios.OutCtsFlow) << definition;
        EXPECT_EQ(viaStty.Raw, viaTermios.Raw) << definition;
    }
}

TEST_F(SerialPty, AWriteAfterTheLineIsGoneFails) {
    // A second pair whose other end goes away.
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    const std::filesystem::path link = std::filesystem::path(std::getenv("MODEMSWITCH_COM_DIR")) / "com8";
    std::filesystem::create_symlink(name, link);
    const TPortHandle h = OpenPort(8);
    std::filesystem::remove(link);
    ASSERT_NE(h, InvalidPortHandle);
    ASSERT_TRUE(device_.Configure(h, Definition2400, 1));
    close(master);
    std::uint32_t written = 9;
    EXPECT_FALSE(device_.Write(h, "ATH1\r", 5, written));
}

// A device path opens as it is named, and a failed open says why in errno:
// the service tells a missing port from a held one and a forbidden one.
TEST(SerialPosix, APathOpensDirectlyAndAFailureSaysWhy) {
    int master = -1, slave = -1;
    char name[64];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("serial-path-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream((dir / "plain").string()) << "x";

    TSerialDevice& device = PlatformSerialDevice();
    const TPortHandle held = device.Open(name);
    ASSERT_NE(held, InvalidPortHandle) << name;
    struct Case {
        std::string Path;
        int Errno;
    } const cases[] = {
        {(dir / "missing").string(), ENOENT},
        {(dir / "plain").string(), ENOTTY},
        {name, getuid() == 0 ? EWOULDBLOCK : EBUSY},  // held: flock, or TIOCEXCL for a normal user
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(device.Open(c.Path), InvalidPortHandle) << c.Path;
        EXPECT_EQ(errno, c.Errno) << c.Path;
    }
    device.Close(held);
    const TPortHandle again = device.Open(name);
    EXPECT_NE(again, InvalidPortHandle) << "closing gives the port back";
    device.Close(again);
    close(master);
    std::filesystem::remove_all(dir);
}
#endif

}  // namespace
