#include <gtest/gtest.h>

#include "winlib/obj.h"

namespace {

int g_destroyed = 0;

struct Tracked : TObj {
    ~Tracked() override { ++g_destroyed; }
};

TEST(TObjTest, FreeOfAnUnreferencedObjectDestroysAtOnce) {
    g_destroyed = 0;
    auto* o = new Tracked;
    o->Free();
    EXPECT_EQ(g_destroyed, 1);
}

TEST(TObjTest, FreeWhileReferencedWaitsForTheLastReference) {
    g_destroyed = 0;
    auto* o = new Tracked;
    o->RefInc();
    o->RefInc();
    o->Free();
    EXPECT_EQ(g_destroyed, 0);
    o->RefDec();
    EXPECT_EQ(g_destroyed, 0);
    o->RefDec();
    EXPECT_EQ(g_destroyed, 1);
}

TEST(TObjTest, ReferencesWithoutFreeKeepTheObject) {
    g_destroyed = 0;
    {
        TObjPtr<Tracked> owner = NewObj<Tracked>();
        owner->RefInc();
        owner->RefDec();
        EXPECT_EQ(g_destroyed, 0);
    }
    EXPECT_EQ(g_destroyed, 1);
}

// The receiver is told while the object is still whole: it may look at it
// as what it is, not as the bare base a destructor leaves.
TEST(TObjTest, DestroyHandlerSeesTheWholeObjectOnce) {
    struct TWhole : Tracked {
        int Field = 42;
    };
    static TObj* seen = nullptr;
    static void* context = nullptr;
    static int calls = 0, field = 0, destroyedBefore = -1;
    g_destroyed = 0;
    auto* o = new TWhole;
    int marker = 0;
    o->OnDestroy = {[](void* object, TObj* sender) {
                        context = object;
                        seen = sender;
                        ++calls;
                        destroyedBefore = g_destroyed;
                        if (auto* whole = dynamic_cast<TWhole*>(sender)) field = whole->Field;
                    },
                    &marker};
    o->Free();
    EXPECT_EQ(seen, o);
    EXPECT_EQ(context, &marker);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(destroyedBefore, 0) << "told after a destructor ran";
    EXPECT_EQ(field, 42);
}

TEST(TObjTest, AHoldKeepsAFreedObjectUntilItEnds) {
    g_destroyed = 0;
    auto* o = new Tracked;
    {
        const TObjHold<Tracked> hold(o);
        o->Free();
        EXPECT_TRUE(o->Freed());
        EXPECT_EQ(g_destroyed, 0);
    }
    EXPECT_EQ(g_destroyed, 1);
}

TEST(TListTest, GrowthInStepsOfFour) {
    TList list;
    for (std::uintptr_t i = 0; i < 4; ++i) list.Add(i);
    EXPECT_EQ(list.Capacity(), 4);
    list.Add(4);
    EXPECT_EQ(list.Capacity(), 8);
    EXPECT_EQ(list.Count(), 5);
    list.GrowthStep = 0;  // reset to 4 on the next growth
    for (std::uintptr_t i = 5; i < 9; ++i) list.Add(i);
    EXPECT_EQ(list.Capacity(), 12);
    for (std::int32_t i = 0; i < 9; ++i) EXPECT_EQ(list.Get(i), static_cast<std::uintptr_t>(i));
}

TEST(TListTest, GetOutsideTheListGivesZero) {
    TList list;
    list.Add(7);
    EXPECT_EQ(list.Get(-1), 0u);
    EXPECT_EQ(list.Get(1), 0u);
    EXPECT_EQ(list.Get(0), 7u);
}

TEST(TListTest, InsertDeleteAndIndexOf) {
    TList list;
    for (std::uintptr_t v : {10u, 20u, 30u, 40u, 50u}) list.Add(v);
    list.DeleteRange(2, 10);
    EXPECT_EQ(list.Count(), 2);
    list.Insert(0, 5);
    list.Insert(99, 60);  // past the end appends
    list.Insert(-3, 70);
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list.Get(0), 5u);
    EXPECT_EQ(list.Get(1), 10u);
    EXPECT_EQ(list.Get(2), 20u);
    EXPECT_EQ(list.Get(3), 60u);
    EXPECT_EQ(list.Get(4), 70u);
    list.Add(10);
    EXPECT_EQ(list.IndexOf(10), 1);
    EXPECT_EQ(list.IndexOf(99), -1);
    list.DeleteRange(1, 0);
    list.DeleteRange(-1, 2);
    EXPECT_EQ(list.Count(), 6);
    list.Delete(0);
    EXPECT_EQ(list.Get(0), 10u);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
}

TEST(TStrListTest, ObjectsStayParallelToStrings) {
    TStrListEx list;
    list.AddObject("", 100);
    list.AddObject("b", 200);
    list.AddObject("", 300);
    EXPECT_EQ(list.IndexOfObject(200), 1);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Object(1), 300u);
    EXPECT_EQ(list.IndexOfObject(200), -1);
    list.Insert(0, "plain");  // a string without an object
    EXPECT_EQ(list.Get(0), "plain");
    EXPECT_EQ(list.Get(7), "");
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Object(0), 0u);
}

}  // namespace
