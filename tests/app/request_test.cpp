// Requests through "vr.ini": polled once a second, one toggle per request,
// the key deleted after every reported switch.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/app/switching_host.h"
#include "tests/support/temp_dir.h"
#include "winlib/inifile.h"

namespace {

using Lines = std::vector<std::string>;

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.Path().empty());
        previousDirectory = OverrideProgramDirectory(dir.WithSeparator());
        host = std::make_unique<TSwitchingHost>(timeline);
        StartFramework();
        host->Reset();
        host->StartPolling();
        timeline.Lines.clear();
    }
    void TearDown() override {
        host.reset();
        StopFramework();
        OverrideProgramDirectory(previousDirectory);
    }

    Lines Until(std::int64_t t) {
        clock.AdvanceTo(t);
        Lines seen;
        seen.swap(timeline.Lines);
        return seen;
    }
    // Another program writes its request.
    void Request(const std::string& value) { Spit(RequestFile(), "[other]\r\nx=1\r\n[znah]\r\np1=" + value + "\r\n"); }
    std::string RequestFile() const { return dir.File("vr.ini"); }
    bool KeyPresent() const { return Slurp(RequestFile()).find("p1") != std::string::npos; }

    TTempDir dir;
    std::optional<std::string> previousDirectory;
    VirtualClock clock;
    TTimeline timeline{clock};
    TTimedSerial serial{timeline};
    std::unique_ptr<TSwitchingHost> host;
};

TEST_F(RequestTest, ARequestSwitchesOnWithinOnePollAndIsDeleted) {
    EXPECT_EQ(Until(900), Lines{}) << "no file is no request";
    Request("1");
    EXPECT_EQ(Until(1400),
              (Lines{"1000 Request", "1100 open \\\\.\\Com6", "1200 write ATH1\\r", "1400 SwitchedOn"}));
    EXPECT_TRUE(FileExists(RequestFile())) << "the file itself stays";
    EXPECT_FALSE(KeyPresent());
    EXPECT_NE(Slurp(RequestFile()).find("[other]"), std::string::npos);
    EXPECT_EQ(Until(10000), Lines{}) << "one request, one toggle";
}

TEST_F(RequestTest, AnyValueOfOneOrMoreIsARequest) {
    Request("5");
    EXPECT_EQ(Until(1000), Lines{"1000 Request"});
}

TEST_F(RequestTest, ZeroNegativeWordsAndEmptyValuesAreNoRequest) {
    for (const char* value : {"0", "-3", "yes", "", " "}) {
        SCOPED_TRACE(std::string("p1=\"") + value + "\"");
        Request(value);
        EXPECT_EQ(Until(clock.Now() + 3000), Lines{});
        EXPECT_TRUE(KeyPresent()) << "only a switch deletes the key";
    }
}

TEST_F(RequestTest, ARequestWhileOnSwitchesOff) {
    host->Toggle();  // by the button; the pulse text "0" keeps it on
    EXPECT_EQ(Until(500), (Lines{"100 open \\\\.\\Com6", "200 write ATH1\\r", "400 SwitchedOn"}));
    Until(1500);
    Request("1");
    EXPECT_EQ(Until(2300), (Lines{"2000 Request", "2200 write ATH\\r", "2300 SwitchedOff"}));
    EXPECT_FALSE(KeyPresent());
    EXPECT_TRUE(FileExists(RequestFile()));
}

TEST_F(RequestTest, TheButtonAlsoDeletesAPendingRequest) {
    Spit(RequestFile(), "[znah]\r\np1=0\r\n");
    host->Toggle();
    Until(500);
    EXPECT_FALSE(KeyPresent());
}

TEST_F(RequestTest, APulseEndsTheRequestedSwitchOn) {
    host->SetPulse("2");
    Request("1");
    // On at 1400, countdown from 1500, expiry one second later.
    EXPECT_EQ(Until(3000), (Lines{"1000 Request", "1100 open \\\\.\\Com6", "1200 write ATH1\\r", "1400 SwitchedOn",
                                  "2500 PulseExpired", "2700 write ATH\\r", "2800 SwitchedOff"}));
    EXPECT_FALSE(KeyPresent());
}

}  // namespace
