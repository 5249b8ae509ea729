#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "elements/flow.h"
#include "tests/support/probes.h"

namespace {

std::string g_order;  // which receivers ran, in order

// Records every value that reaches it and notes its name in g_order.
struct Recorder {
    Recorder(char name = '?') : Name(name) {}
    char Name;
    std::vector<TData> Seen;
    void doEvent(TData& value, std::uint16_t) {
        Seen.push_back(value);
        g_order += Name;
    }
};

// Overwrites the value and forwards it on.
struct Overwriter {
    TQX_Event onResult;
    void doEvent(TData& value, std::uint16_t) {
        g_order += 'w';
        ForwardText(value, onResult, "overwritten");
    }
};

// A data-out point with a fixed answer (Break included).
TData Break() {
    TData v;
    v.Kind = dtBreak;
    return v;
}

class FlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_order.clear();
        StartFramework();
    }
    void TearDown() override { StopFramework(); }
};

// --- TQXHub ---

TEST_F(FlowTest, HubFiresLinkedOutputsInOrderEachWithItsOwnCopy) {
    TQXHub hub;
    hub.SetOutCount(3);
    Overwriter first;
    Recorder afterFirst{'a'}, last{'c'};
    first.onResult = QX_LINK(&afterFirst, doEvent, 0);
    hub.onEvent[0] = QX_LINK(&first, doEvent, 0);
    hub.onEvent[2] = QX_LINK(&last, doEvent, 0);  // output 1 stays unlinked

    TData v = Int(42);
    FireEvent(QX_LINK(&hub, doEvent, 5), v);

    // The whole chain behind output 0 runs before output 2.
    EXPECT_EQ(g_order, "wac");
    ASSERT_EQ(afterFirst.Seen.size(), 1u);
    EXPECT_EQ(afterFirst.Seen[0].TextValue, "overwritten");
    ASSERT_EQ(last.Seen.size(), 1u);
    EXPECT_EQ(last.Seen[0].Kind, dtInteger);
    EXPECT_EQ(last.Seen[0].IntValue, 42);
    EXPECT_EQ(v.Kind, dtInteger);
    EXPECT_EQ(v.IntValue, 42);
}

TEST_F(FlowTest, HubCountsAndBadCountsAreHarmless) {
    TQXHub hub;
    Recorder r[3] = {{'0'}, {'1'}, {'2'}};
    hub.SetOutCount(258);  // only the low 8 bits count as outputs
    EXPECT_EQ(hub.OutCount, 2);
    EXPECT_EQ(hub.onEvent.size(), 258u);
    for (int i = 0; i < 3; ++i) hub.onEvent[i] = QX_LINK(&r[i], doEvent, 0);
    FireInteger(QX_LINK(&hub, doEvent, 0), 1);
    EXPECT_EQ(g_order, "01");

    // A count written directly, beyond the list: only existing outputs fire.
    hub.SetOutCount(1);
    hub.OutCount = 200;
    g_order.clear();
    FireInteger(QX_LINK(&hub, doEvent, 0), 1);
    EXPECT_EQ(g_order, "0");
}

TEST_F(FlowTest, HubSurvivesAReceiverThatShrinksIt) {
    struct Shrinker {
        TQXHub* Hub = nullptr;
        void doEvent(TData&, std::uint16_t) {
            g_order += 's';
            Hub->SetOutCount(0);
            Hub->onEvent.shrink_to_fit();
        }
    };
    TQXHub hub;
    Shrinker s{&hub};
    Recorder later{'x'};
    hub.SetOutCount(2);
    hub.onEvent[0] = QX_LINK(&s, doEvent, 0);
    hub.onEvent[1] = QX_LINK(&later, doEvent, 0);
    FireNull(QX_LINK(&hub, doEvent, 0));
    EXPECT_EQ(g_order, "s");
}

// --- TQXDoData ---

TEST_F(FlowTest, DoDataFiresPointThenPropertyAndIgnoresTheIncomingValue) {
    TQXDoData d;
    Recorder out;
    d.onData = QX_LINK(&out, doEvent, 0);
    const TQX_Event in = QX_LINK(&d, doData, 0);

    FireInteger(in, 9);  // nothing set: NULL, not the incoming value
    d.Data = Text("\xCE\xF2\xEA\xEB\xFE\xF7\xE8\xF2\xFC");
    FireInteger(in, 9);

    TSource src;
    d.DataPoint = QX_LINK(&src, readValue, 0);
    src.Value = Int(77);
    FireInteger(in, 9);
    src.Value = Break();  // Break counts as unlinked
    FireInteger(in, 9);

    ASSERT_EQ(out.Seen.size(), 4u);
    EXPECT_TRUE(IsNull(out.Seen[0]));
    EXPECT_EQ(out.Seen[1].TextValue, "\xCE\xF2\xEA\xEB\xFE\xF7\xE8\xF2\xFC");
    EXPECT_EQ(out.Seen[2].IntValue, 77);
    EXPECT_EQ(out.Seen[3].Kind, dtString);
    EXPECT_EQ(out.Seen[3].TextValue, "\xCE\xF2\xEA\xEB\xFE\xF7\xE8\xF2\xFC");
}

// --- CompareValues ---

TEST(CompareValuesTest, NullEqualsOnlyNullWhateverTheCode) {
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<std::uint8_t>(code);
        EXPECT_TRUE(CompareValues(TData{}, TData{}, c)) << code;
        EXPECT_FALSE(CompareValues(TData{}, Int(0), c)) << code;
        EXPECT_FALSE(CompareValues(TData{}, Text(""), c)) << code;
    }
}

TEST(CompareValuesTest, IntegersAreSignedAndConvertTheOtherSide) {
    EXPECT_TRUE(CompareValues(Int(-1), Int(1), cmpLess));
    EXPECT_TRUE(CompareValues(Int(-2147483647 - 1), Int(2147483647), cmpLess));
    EXPECT_TRUE(CompareValues(Int(1), Text("1"), cmpGreaterOrEqual));
    EXPECT_FALSE(CompareValues(Int(0), Text("1"), cmpGreaterOrEqual));
    EXPECT_TRUE(CompareValues(Int(0), TData{}, cmpEqual));   // NULL reads as 0
    EXPECT_TRUE(CompareValues(Int(2), Real(2.5), cmpEqual));  // 2.5 rounds to even
    EXPECT_TRUE(CompareValues(Int(4), Real(3.5), cmpEqual));
    const int expected[6] = {0, 1, 0, 1, 0, 1};  // 3 against 7
    for (int code = 0; code < 6; ++code)
        EXPECT_EQ(CompareValues(Int(3), Int(7), static_cast<std::uint8_t>(code)), expected[code] != 0) << code;
}

TEST(CompareValuesTest, StringsEqualExactlyButOrderWithAsciiFolded) {
    EXPECT_TRUE(CompareValues(Text("5"), Int(5), cmpEqual));  // b taken as its text
    EXPECT_TRUE(CompareValues(Text("abc"), Text("ABD"), cmpLess));
    EXPECT_FALSE(CompareValues(Text("abc"), Text("ABC"), cmpEqual));
    EXPECT_TRUE(CompareValues(Text("abc"), Text("ABC"), cmpNotEqual));
    EXPECT_TRUE(CompareValues(Text("abc"), Text("ABC"), cmpLessOrEqual));
    EXPECT_TRUE(CompareValues(Text("abc"), Text("ABC"), cmpGreaterOrEqual));
    // Folding goes to capitals: '_' (0x5F) lies above 'A'..'Z'.
    EXPECT_TRUE(CompareValues(Text("_"), Text("a"), cmpGreater));
    // Bytes compare unsigned; Cyrillic is not folded (0xE0 is small a).
    EXPECT_TRUE(CompareValues(Text("\xC0"), Text("z"), cmpGreater));
    EXPECT_TRUE(CompareValues(Text("\xE0"), Text("\xC0"), cmpGreater));
    // A prefix is smaller.
    EXPECT_TRUE(CompareValues(Text("ab"), Text("abc"), cmpLess));
    EXPECT_TRUE(CompareValues(Text(""), Text("a"), cmpLess));
    // Ordering ends at the first zero byte; equality does not.
    TData x, y;
    SetText(x, std::string_view("ab\0x", 4));
    SetText(y, std::string_view("ab\0y", 4));
    EXPECT_TRUE(CompareValues(x, y, cmpLessOrEqual));
    EXPECT_TRUE(CompareValues(x, y, cmpGreaterOrEqual));
    EXPECT_FALSE(CompareValues(x, y, cmpEqual));
    EXPECT_TRUE(CompareValues(x, y, cmpNotEqual));
}

TEST(CompareValuesTest, RealsCompareAsDoubles) {
    EXPECT_TRUE(CompareValues(Real(2.5), Text("2.5"), cmpEqual));
    EXPECT_TRUE(CompareValues(Real(2.5), Int(2), cmpGreater));
    EXPECT_TRUE(CompareValues(Real(-0.0), Real(0.0), cmpEqual));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(CompareValues(Real(nan), Real(nan), cmpEqual));
    EXPECT_TRUE(CompareValues(Real(nan), Real(nan), cmpNotEqual));
}

TEST(CompareValuesTest, UnknownCodesAndOtherKindsAreFalse) {
    for (int code = 6; code < 256; ++code) {
        const auto c = static_cast<std::uint8_t>(code);
        EXPECT_FALSE(CompareValues(Int(1), Int(1), c));
        EXPECT_FALSE(CompareValues(Text("a"), Text("a"), c));
        EXPECT_FALSE(CompareValues(Real(1), Real(1), c));
    }
    TData array;
    array.Kind = dtArray;
    EXPECT_FALSE(CompareValues(array, array, cmpEqual));
    EXPECT_FALSE(CompareValues(Break(), Break(), cmpEqual));
}

// --- TQXIf_else ---

TEST_F(FlowTest, IfElseOnStoredRequestAgainstStringOne) {
    TQXMemory memory;
    TQXIf_else test;
    Recorder yes{'T'}, no{'F'};
    test.Comparison = cmpGreaterOrEqual;
    test.Op2 = Text("1");
    test.Op1Point = QX_LINK(&memory, readValue, 0);
    test.onTrue = QX_LINK(&yes, doEvent, 0);
    test.onFalse = QX_LINK(&no, doEvent, 0);
    const TQX_Event compare = QX_LINK(&test, doCompare, 0);

    FireText(compare, "x");  // memory never stored: NULL equals only NULL
    FireInteger(QX_LINK(&memory, doValue, 0), 1);
    FireText(compare, "x");
    FireInteger(QX_LINK(&memory, doValue, 0), 0);
    FireText(compare, "x");
    EXPECT_EQ(g_order, "FTF");
    // The outputs carry the value that arrived, not the operands.
    ASSERT_EQ(yes.Seen.size(), 1u);
    EXPECT_EQ(yes.Seen[0].TextValue, "x");
    for (const TData& v : no.Seen) EXPECT_EQ(v.TextValue, "x");
}

TEST_F(FlowTest, IfElseOperandsFallBackToPropertiesThenTheIncomingValue) {
    TQXIf_else test;
    Recorder yes{'T'}, no{'F'};
    test.onTrue = QX_LINK(&yes, doEvent, 0);
    test.onFalse = QX_LINK(&no, doEvent, 0);
    const TQX_Event compare = QX_LINK(&test, doCompare, 0);

    // Both unlinked, both properties NULL: a takes the incoming value, b is NULL.
    test.Comparison = cmpGreater;
    FireInteger(compare, 5);  // 5 > 0
    FireInteger(compare, -5);
    test.Comparison = cmpEqual;
    FireNull(compare);  // NULL and NULL

    // Properties as the countdown uses them, overridden by links.
    TSource count, limit;
    count.Value = Int(3);
    limit.Value = Text("3");
    test.Comparison = cmpGreater;
    test.Op1 = Text("0");
    test.Op2 = Int(1);
    FireNull(compare);  // "0" > 1 as text: "0" < "1"
    test.Op1Point = QX_LINK(&count, readValue, 0);
    test.Op2Point = QX_LINK(&limit, readValue, 0);
    FireNull(compare);  // 3 > 3
    count.Value = Int(4);
    FireNull(compare);
    limit.Value = Break();  // back to the property: 4 > 1
    count.Value = Int(1);
    FireNull(compare);  // 1 > 1
    EXPECT_EQ(g_order, "TFTFFTF");
    EXPECT_EQ(limit.Reads, 3);
}

// --- TQXMemory ---

TEST_F(FlowTest, MemoryStoresGivesBackAndClears) {
    TQXMemory memory;
    Recorder out;
    memory.onData = QX_LINK(&out, doEvent, 0);
    TData read = Int(99);
    memory.readValue(read, 0);
    EXPECT_TRUE(IsNull(read));  // before any store

    FireText(QX_LINK(&memory, doValue, 0), "stored");
    memory.readValue(read, 0);
    EXPECT_EQ(read.TextValue, "stored");

    TSource src;
    memory.Data = QX_LINK(&src, readValue, 0);
    src.Value = Int(5);
    FireText(QX_LINK(&memory, doValue, 0), "ignored");
    EXPECT_EQ(memory.Value.IntValue, 5);
    src.Value = Break();
    FireText(QX_LINK(&memory, doValue, 0), "incoming");
    EXPECT_EQ(memory.Value.TextValue, "incoming");

    memory.Default = Int(-1);
    FireText(QX_LINK(&memory, doClear, 1), "ignored");
    EXPECT_EQ(memory.Value.IntValue, -1);

    ASSERT_EQ(out.Seen.size(), 4u);
    EXPECT_EQ(out.Seen[0].TextValue, "stored");
    EXPECT_EQ(out.Seen[1].IntValue, 5);
    EXPECT_EQ(out.Seen[2].TextValue, "incoming");
    EXPECT_EQ(out.Seen[3].IntValue, -1);
}

TEST_F(FlowTest, MemoryKeepsItsValueWhenReceiversChangeTheirs) {
    TQXMemory memory;
    Overwriter scribbler;
    memory.onData = QX_LINK(&scribbler, doEvent, 0);
    FireInteger(QX_LINK(&memory, doValue, 0), 12);
    EXPECT_EQ(memory.Value.Kind, dtInteger);
    EXPECT_EQ(memory.Value.IntValue, 12);
    TData read;
    memory.readValue(read, 0);
    SetText(read, "changed");
    EXPECT_EQ(memory.Value.IntValue, 12);
}

// --- TQXIndexToChanel ---

TEST_F(FlowTest, IndexToChanelRoutesOnlyValidIndices) {
    TQXIndexToChanel router;
    router.SetCount(10);
    std::vector<Recorder> out(10);
    for (int i = 0; i < 10; ++i) {
        out[i].Name = static_cast<char>('0' + i);
        if (i != 3) router.onEvent[i] = QX_LINK(&out[i], doEvent, 0);
    }
    TSource index;
    router.Index = QX_LINK(&index, readValue, 0);
    router.Data = Text("payload");
    const TQX_Event in = QX_LINK(&router, doEvent, 0);
    for (std::int32_t i : {9, 10, -1, 3, 0, 2147483647}) {
        index.Value = Int(i);
        FireNull(in);
    }
    EXPECT_EQ(g_order, "90");
    ASSERT_EQ(out[9].Seen.size(), 1u);
    EXPECT_EQ(out[9].Seen[0].TextValue, "payload");
}

TEST_F(FlowTest, IndexToChanelTakesIndexBeforeData) {
    TQXIndexToChanel router;
    router.SetCount(10);
    Recorder four{'4'}, two{'2'};
    router.onEvent[4] = QX_LINK(&four, doEvent, 0);
    router.onEvent[2] = QX_LINK(&two, doEvent, 0);
    const TQX_Event in = QX_LINK(&router, doEvent, 0);

    FireInteger(in, 4);  // both unlinked: the Integer is the index, NULL is sent
    ASSERT_EQ(four.Seen.size(), 1u);
    EXPECT_TRUE(IsNull(four.Seen[0]));

    TSource index;
    index.Value = Int(2);
    router.Index = QX_LINK(&index, readValue, 0);
    FireText(in, "carried");  // index linked: the incoming value is the data
    ASSERT_EQ(two.Seen.size(), 1u);
    EXPECT_EQ(two.Seen[0].TextValue, "carried");
}

TEST_F(FlowTest, IndexToChanelBadCountsAreHarmless) {
    TQXIndexToChanel router;
    router.SetCount(-5);
    EXPECT_EQ(router.Count, -5);
    EXPECT_TRUE(router.onEvent.empty());
    FireInteger(QX_LINK(&router, doEvent, 0), 0);

    router.SetCount(2);
    router.Count = 1000;  // written directly, beyond the list
    FireInteger(QX_LINK(&router, doEvent, 0), 500);

    router.SetCount(2147483647);  // must not try to allocate it all
    EXPECT_EQ(router.Count, 2147483647);
    FireInteger(QX_LINK(&router, doEvent, 0), 2000000000);
    EXPECT_EQ(g_order, "");
}

}  // namespace
