// Every platform service a test can stand in for behaves alike: the
// platform's own by default, stand-ins nest and are put back in order.
#include "winlib/seam.h"

#include <gtest/gtest.h>

#include "winlib/ansi.h"
#include "winlib/msgbox.h"
#include "winlib/profile.h"
#include "winlib/serial.h"
#include "winlib/timer.h"

namespace {

template <class Seam, class Service, Service& (*Platform)()>
void ExpectNestingStandIns(Service& first, Service& second) {
    ASSERT_EQ(&Seam::Current(), &Platform());
    {
        TScopedOverride<Seam, Service> outer(&first);
        EXPECT_EQ(&Seam::Current(), &first);
        {
            TScopedOverride<Seam, Service> inner(&second);
            EXPECT_EQ(&Seam::Current(), &second);
        }
        EXPECT_EQ(&Seam::Current(), &first);
        // What Set gives back is the stand-in, never the platform's own.
        EXPECT_EQ(Seam::Set(nullptr), &first);
        EXPECT_EQ(&Seam::Current(), &Platform());
        EXPECT_EQ(Seam::Set(&first), nullptr);
    }
    EXPECT_EQ(&Seam::Current(), &Platform());
}

struct TBox : TMessageBoxService {
    int Show(std::string_view, std::string_view, std::uint32_t, void*) override { return 0; }
};

struct TCase : TAnsiCase {
    void Lower(char*, std::size_t) override {}
};

struct TDevice : TSerialDevice {
    TPortHandle Open(std::string_view) override { return InvalidPortHandle; }
    bool Configure(TPortHandle, std::string_view, std::uint32_t) override { return false; }
    bool Write(TPortHandle, const char*, std::uint32_t, std::uint32_t&) override { return false; }
    void Close(TPortHandle) override {}
};

struct TClock : TTimerService {
    std::uintptr_t Start(TTimer*, std::int32_t) override { return 0; }
    void Stop(TTimer*, std::uintptr_t) override {}
};

TEST(Seam, StandInsNestAndArePutBackForEveryService) {
    {
        TBox a, b;
        ExpectNestingStandIns<TMessageBoxSeam, TMessageBoxService, PlatformMessageBox>(a, b);
    }
    {
        TCase a, b;
        ExpectNestingStandIns<TAnsiCaseSeam, TAnsiCase, PlatformAnsiCase>(a, b);
    }
    {
        TDevice a, b;
        ExpectNestingStandIns<TSerialSeam, TSerialDevice, PlatformSerialDevice>(a, b);
    }
    {
        TClock a, b;
        ExpectNestingStandIns<TTimerSeam, TTimerService, PlatformTimerService>(a, b);
    }
    {
        auto a = MakeNativeProfileStore(1251), b = MakeNativeProfileStore(1252);
        ExpectNestingStandIns<TProfileSeam, TProfileStore, PlatformProfileStore>(*a, *b);
    }
}

}  // namespace
