#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/events.h"
#include "tests/support/probes.h"

namespace {

// Records every value that reaches it.
// Overwrites the value it receives and forwards its own output.
struct Doubler {
    TQX_Event onResult;
    void doEvent(TData& value, std::uint16_t) { ForwardInteger(value, onResult, AsInteger(value) * 2); }
};

// Overwrites the value in place without forwarding.
struct Scribbler {
    void doEvent(TData& value, std::uint16_t) { SetText(value, "scribbled"); }
};

// A data-out point with a fixed answer.
// A property-less element that fans one event out, like a hub.
struct Fan {
    std::vector<TQX_Event> onEvent;
    void doEvent(TData& value, std::uint16_t) {
        for (const auto& e : onEvent) FireCopy(e, value);
    }
};

class EventsTest : public ::testing::Test {
protected:
    void SetUp() override { StartFramework(); }
    void TearDown() override { StopFramework(); }
};

TEST_F(EventsTest, UnlinkedEventDoesNothing) {
    TQX_Event unlinked;
    TData v;
    SetInteger(v, 7);
    FireEvent(unlinked, v);
    EXPECT_EQ(v.Kind, dtInteger);
    EXPECT_EQ(v.IntValue, 7);
}

TEST_F(EventsTest, LinkPassesReceiverAndIndex) {
    TRecorder r;
    const TQX_Event e = QX_LINK(&r, doEvent, 3);
    FireInteger(e, 5);
    FireText(e, "abc");
    FireNull(e);
    ASSERT_EQ(r.Seen.size(), 3u);
    EXPECT_EQ(r.Seen[0].IntValue, 5);
    EXPECT_EQ(r.Seen[1].TextValue, "abc");
    EXPECT_TRUE(IsNull(r.Seen[2]));
    EXPECT_EQ(r.Indices, (std::vector<std::uint16_t>{3, 3, 3}));
}

TEST_F(EventsTest, ForwardingRunsTheChainAndClearsTheFlag) {
    Doubler a, b;
    TRecorder end;
    a.onResult = QX_LINK(&b, doEvent, 0);
    b.onResult = QX_LINK(&end, doEvent, 0);
    TData v;
    SetInteger(v, 3);
    FireEvent(QX_LINK(&a, doEvent, 0), v);
    ASSERT_EQ(end.Seen.size(), 1u);
    EXPECT_EQ(end.Seen[0].Kind, dtInteger);  // receivers never see the flag
    EXPECT_EQ(end.Seen[0].IntValue, 12);
}

TEST_F(EventsTest, ForwardToUnlinkedEndsWithTheForwardedValue) {
    Doubler a;  // onResult unlinked
    TData v;
    SetInteger(v, 21);
    FireEvent(QX_LINK(&a, doEvent, 0), v);
    EXPECT_EQ(v.Kind, dtInteger);
    EXPECT_EQ(v.IntValue, 42);
}

TEST_F(EventsTest, ForwardToNothingIsIgnored) {
    struct Broken {
        void doEvent(TData& value, std::uint16_t) {
            value.Kind = dtInteger | ForwardFlag;
            value.NextEvent = nullptr;
        }
    } broken;
    TData v;
    FireEvent(QX_LINK(&broken, doEvent, 0), v);
    EXPECT_EQ(v.Kind, dtInteger);
}

TEST_F(EventsTest, FireCopyLeavesTheCallersRecord) {
    Scribbler s;
    TData v;
    SetText(v, "original");
    FireCopy(QX_LINK(&s, doEvent, 0), v);
    EXPECT_EQ(v.TextValue, "original");
    FireEvent(QX_LINK(&s, doEvent, 0), v);
    EXPECT_EQ(v.TextValue, "scribbled");
}

TEST_F(EventsTest, FanOutGivesEachReceiverTheValueAsFired) {
    Fan fan;
    Doubler forwarder;
    Scribbler scribbler;
    TRecorder first, last;
    forwarder.onResult = QX_LINK(&first, doEvent, 0);
    fan.onEvent = {QX_LINK(&forwarder, doEvent, 0), QX_LINK(&scribbler, doEvent, 0), QX_LINK(&last, doEvent, 1)};
    TData v;
    SetInteger(v, 4);
    FireEvent(QX_LINK(&fan, doEvent, 0), v);
    ASSERT_EQ(first.Seen.size(), 1u);
    EXPECT_EQ(first.Seen[0].IntValue, 8);
    ASSERT_EQ(last.Seen.size(), 1u);
    EXPECT_EQ(last.Seen[0].Kind, dtInteger);
    EXPECT_EQ(last.Seen[0].IntValue, 4);
    EXPECT_EQ(v.IntValue, 4);
}

TEST_F(EventsTest, ForwardValueAndForwardSame) {
    struct Relay {
        TData Stored;
        TQX_Event onData;
        bool Same = false;
        void doEvent(TData& value, std::uint16_t) {
            if (Same)
                ForwardSame(value, onData);
            else
                ForwardValue(value, onData, Stored);
        }
    } relay;
    TRecorder r;
    relay.onData = QX_LINK(&r, doEvent, 0);
    SetText(relay.Stored, "stored");
    FireInteger(QX_LINK(&relay, doEvent, 0), 1);
    relay.Same = true;
    FireInteger(QX_LINK(&relay, doEvent, 0), 2);
    ASSERT_EQ(r.Seen.size(), 2u);
    EXPECT_EQ(r.Seen[0].TextValue, "stored");
    EXPECT_EQ(r.Seen[0].Kind, dtString);
    EXPECT_EQ(r.Seen[1].IntValue, 2);
    EXPECT_EQ(relay.Stored.Kind, dtString);  // the source keeps its kind
}

// Each link forwards to the next: if forwarding nested calls, a million
// elements would overflow the stack long before the end.
TEST_F(EventsTest, MillionElementChainRunsInConstantStack) {
    struct Hop {
        TQX_Event onNext;
        void doEvent(TData& value, std::uint16_t) { ForwardInteger(value, onNext, value.IntValue + 1); }
    };
    constexpr int kLength = 1000000;
    auto hops = std::make_unique<Hop[]>(kLength);
    TRecorder end;
    for (int i = 0; i + 1 < kLength; ++i) hops[i].onNext = QX_LINK(&hops[i + 1], doEvent, 0);
    hops[kLength - 1].onNext = QX_LINK(&end, doEvent, 0);
    FireInteger(QX_LINK(&hops[0], doEvent, 0), 0);
    ASSERT_EQ(end.Seen.size(), 1u);
    EXPECT_EQ(end.Seen[0].IntValue, kLength);
}

TEST_F(EventsTest, FetchIntegerPrecedence) {
    TSource src;
    SetText(src.Value, "12");
    const TQX_Event linked = QX_LINK(&src, readValue, 0);
    const TQX_Event unlinked;

    TData incoming;
    SetText(incoming, "12");
    EXPECT_EQ(FetchInteger(incoming, unlinked, 5), 5);  // default wins, incoming untouched
    EXPECT_EQ(incoming.Kind, dtString);
    EXPECT_EQ(FetchInteger(incoming, unlinked, 0), 12);  // incoming taken and used up
    EXPECT_TRUE(IsNull(incoming));
    EXPECT_EQ(FetchInteger(incoming, unlinked, 0), 0);

    SetInteger(incoming, 99);
    SetInteger(src.Value, 7);
    EXPECT_EQ(FetchInteger(incoming, linked, 5), 7);  // linked element first
    EXPECT_EQ(incoming.IntValue, 99);
    src.Value.Kind = dtBreak;
    EXPECT_EQ(FetchInteger(incoming, linked, 5), 5);  // Break falls back
    EXPECT_EQ(FetchInteger(incoming, linked, 0), 99);
}

TEST_F(EventsTest, FetchTextPrecedence) {
    const TQX_Event unlinked;
    TData incoming;
    SetInteger(incoming, -3);
    EXPECT_EQ(FetchText(incoming, unlinked, "dflt"), "dflt");
    EXPECT_EQ(FetchText(incoming, unlinked, ""), "-3");
    EXPECT_TRUE(IsNull(incoming));
    EXPECT_EQ(FetchText(incoming, unlinked, ""), "");
}

TEST_F(EventsTest, FetchValueConsumesTheIncomingValueOnce) {
    const TQX_Event unlinked;
    TData incoming;
    SetInteger(incoming, 5);
    const TData first = FetchValue(incoming, unlinked, nullptr);
    const TData second = FetchValue(incoming, unlinked, nullptr);
    EXPECT_EQ(first.Kind, dtInteger);
    EXPECT_EQ(first.IntValue, 5);
    EXPECT_TRUE(IsNull(second));

    TData property;  // a NULL property does not count as set
    SetInteger(incoming, 6);
    EXPECT_EQ(FetchValue(incoming, unlinked, &property).IntValue, 6);
    SetText(property, "p");
    SetInteger(incoming, 7);
    EXPECT_EQ(FetchValue(incoming, unlinked, &property).TextValue, "p");
    EXPECT_EQ(incoming.IntValue, 7);
}

TEST_F(EventsTest, FetchValueWalksAValueChain) {
    TData third, second, incoming;
    SetText(third, "c");
    SetInteger(second, 2);
    second.NextValue = &third;
    SetInteger(incoming, 1);
    incoming.NextValue = &second;
    const TQX_Event unlinked;
    const TData a = FetchValue(incoming, unlinked, nullptr);
    const TData b = FetchValue(incoming, unlinked, nullptr);
    const TData c = FetchValue(incoming, unlinked, nullptr);
    const TData d = FetchValue(incoming, unlinked, nullptr);
    EXPECT_EQ(a.IntValue, 1);
    EXPECT_EQ(a.NextValue, nullptr);
    EXPECT_EQ(b.IntValue, 2);
    EXPECT_EQ(c.TextValue, "c");
    EXPECT_TRUE(IsNull(d));
}

TEST_F(EventsTest, PointReads) {
    TSource src;
    SetReal(src.Value, 2.5);
    const TQX_Event linked = QX_LINK(&src, readValue, 0);
    EXPECT_EQ(PointInteger(linked), 2);
    EXPECT_EQ(PointInteger(TQX_Event{}), 0);

    int object = 0;
    src.Value.Kind = dtArray;
    src.Value.ObjectRef = &object;
    EXPECT_EQ(PointArray(linked), &object);
    EXPECT_EQ(PointMatrix(linked), nullptr);
    src.Value.Kind = dtMatrix;
    EXPECT_EQ(PointMatrix(linked), &object);
    EXPECT_EQ(PointArray(TQX_Event{}), nullptr);

    TData v;
    SetInteger(v, 4);
    ReadOrBreak(v, TQX_Event{});
    EXPECT_EQ(v.Kind, dtBreak);
    EXPECT_EQ(v.IntValue, 4);
}

TEST(FrameworkLifecycleTest, NothingFiresOrReadsOutsideTheRunningFramework) {
    StopFramework();
    TRecorder r;
    TSource src;
    SetInteger(src.Value, 9);
    const TQX_Event e = QX_LINK(&r, doEvent, 0);
    const TQX_Event point = QX_LINK(&src, readValue, 0);
    FireInteger(e, 1);
    EXPECT_EQ(PointInteger(point), 0);
    EXPECT_TRUE(r.Seen.empty());

    StartFramework();
    FireInteger(e, 2);
    EXPECT_EQ(PointInteger(point), 9);
    StopFramework();
    FireInteger(e, 3);
    EXPECT_EQ(PointInteger(point), 0);
    ASSERT_EQ(r.Seen.size(), 1u);
    EXPECT_EQ(r.Seen[0].IntValue, 2);
}

TEST(FrameworkLifecycleTest, StartupRunsOnceInRegistrationOrder) {
    static std::string order;
    order.clear();
    struct Proc {
        char Name;
        static void Run(void* self) {
            auto* p = static_cast<Proc*>(self);
            order += p->Name;
            if (p->Name == 'a') RegisterStartup(&Proc::Late, nullptr);
        }
        static void Late(void*) { order += 'z'; }
    };
    Proc a{'a'}, b{'b'};
    RegisterStartup(&Proc::Run, &a);
    RegisterStartup(&Proc::Run, &b);
    EXPECT_EQ(order, "");
    StartFramework();
    EXPECT_EQ(order, "abz");
    EXPECT_TRUE(Started);
    RunStartup();  // the list is empty now
    EXPECT_EQ(order, "abz");
    StopFramework();
}

}  // namespace
