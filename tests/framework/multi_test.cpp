#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/multi.h"
#include "tests/support/probes.h"

namespace {

std::string g_log;  // destruction and start-up order across the schemes below

// Reads its input through a data point (falling back to a property) and
// forwards what it read.
struct Reader {
    TQX_Event Input;
    TText Default;
    TQX_Event onRead;
    char Name = '?';
    ~Reader() { g_log += Name; }
    void doRead(TData& value, std::uint16_t) { ForwardText(value, onRead, FetchText(value, Input, Default)); }
};

struct Constant {
    TData Value;
    void readValue(TData& value, std::uint16_t) { value = Value; }
};

// A small sub-scheme: input 0 reads container Data 1 and leaves on output 2;
// input 1 leaves at once on output 0.
class TClassTestScheme : public TClassMultiBase {
public:
    TClassTestScheme(TQXMultiElement* container, TControl* parent, TScheme* owner)
        : TClassMultiBase(container, parent, owner) {
        Boundary = Create<TQXEditMulti>();
        Boundary->Inputs.resize(2);
        First = Create<Reader>();
        First->Name = '1';
        First->Default = "fallback";
        Second = Create<Reader>();
        Second->Name = '2';

        Boundary->Inputs[0] = QX_LINK(First, doRead, 0);
        Boundary->Inputs[1] = QX_LINK(Boundary, doEvent, 0);
        First->Input = QX_LINK(Boundary, readData, 1);
        First->onRead = QX_LINK(Boundary, doEvent, 2);
        RegisterStartup([](void*) { g_log += 'S'; }, nullptr);
        Boundary->Scheme = this;
    }
    Reader* First;
    Reader* Second;
};

class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        StartFramework();
        host.onEvent.resize(3);
        host.Data.resize(2);
        for (auto& e : host.onEvent) e = QX_LINK(&out, doEvent, 0);
    }
    void TearDown() override { StopFramework(); }

    TQXMultiElement host;
    TRecorder out;
    Constant outer;
};

TEST_F(ContainerTest, EventsCrossTheBoundaryBothWays) {
    host.SetCreateProc(CreateSubScheme<TClassTestScheme>);
    ASSERT_NE(host.Boundary, nullptr);
    EXPECT_EQ(host.Boundary->Container, &host);
    SetText(outer.Value, "from outside");
    host.Data[1] = QX_LINK(&outer, readValue, 0);

    TData nothing;
    FireEvent(QX_LINK(&host, doEvent, 0), nothing);
    ASSERT_EQ(out.Seen.size(), 1u);
    EXPECT_EQ(out.Seen[0].TextValue, "from outside");

    TData v;
    SetInteger(v, 77);
    FireEvent(QX_LINK(&host, doEvent, 1), v);
    ASSERT_EQ(out.Seen.size(), 2u);
    EXPECT_EQ(out.Seen[1].IntValue, 77);
}

TEST_F(ContainerTest, UnlinkedOuterPointReadsAsUnlinked) {
    host.SetCreateProc(CreateSubScheme<TClassTestScheme>);
    // The outer Data 1 is unlinked: the inner reader falls back to its default.
    FireInteger(QX_LINK(&host, doEvent, 0), 5);
    static_cast<TClassTestScheme*>(host.Boundary->Scheme)->First->Default = TText();
    // Without a default it takes the incoming value instead.
    FireInteger(QX_LINK(&host, doEvent, 0), 5);
    ASSERT_EQ(out.Seen.size(), 2u);
    EXPECT_EQ(out.Seen[0].TextValue, "fallback");
    EXPECT_EQ(out.Seen[1].TextValue, "5");
}

TEST_F(ContainerTest, OutOfRangeIndicesAreIgnored) {
    host.SetCreateProc(CreateSubScheme<TClassTestScheme>);
    FireInteger(QX_LINK(&host, doEvent, 9), 1);
    FireInteger(QX_LINK(host.Boundary, doEvent, 9), 1);
    TData v;
    host.Boundary->readData(v, 9);
    EXPECT_EQ(v.Kind, dtBreak);
    EXPECT_TRUE(out.Seen.empty());
}

TEST_F(ContainerTest, OnDemandCreationRunsItsStartupAtOnce) {
    host.CreateOnDemand = true;
    host.SetCreateProc(CreateSubScheme<TClassTestScheme>);
    EXPECT_EQ(host.Boundary, nullptr);
    FireInteger(QX_LINK(&host, doEvent, 1), 3);
    ASSERT_NE(host.Boundary, nullptr);
    EXPECT_EQ(g_log, "S");  // the framework had started: runs now
    ASSERT_EQ(out.Seen.size(), 1u);
}

TEST_F(ContainerTest, CreationDuringConstructionDefersStartup) {
    StopFramework();
    Started = false;
    host.SetCreateProc(CreateSubScheme<TClassTestScheme>);
    EXPECT_EQ(g_log, "");
    StartFramework();
    EXPECT_EQ(g_log, "S");
}

TEST(ContainerLifetimeTest, DestroyingTheHostFreesTheSubSchemeInReverseOrder) {
    g_log.clear();
    {
        TQXMultiElement host;
        host.SetCreateProc(CreateSubScheme<TClassTestScheme>);
        RunStartup();
        g_log.clear();
    }
    EXPECT_EQ(g_log, "21");
}

}  // namespace
