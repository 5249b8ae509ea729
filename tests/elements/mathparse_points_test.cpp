// The evaluator as an element among others: its arguments, indexed ones
// included, what it delivers, the error marker between evaluators, the
// message box, and reentry from an argument read.
#include "tests/elements/mathparse_fixture.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

namespace {

TEST_F(MathParse, PercentZeroIsTheLastGoodResult) {
    TQXMathParse e;
    Configure(e, "%0 + 1");
    e.SetDefault(10);
    Link(e);
    Calc(e);
    EXPECT_EQ(e.Value, 11);
    Calc(e);
    EXPECT_EQ(e.Value, 12);
    e.SetExpression("%0 + 1 / (%0 - 12)");
    Calc(e);  // fails
    EXPECT_EQ(e.ErrorCode, Calc1);
    e.SetExpression("%0 + 1");
    Calc(e);
    EXPECT_EQ(e.Value, 11);  // back from Default
    e.SetExpression("%0[1]");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);  // %0 cannot be indexed
}

TEST_F(MathParse, UnlinkedArgumentsTakeTheIncomingChain) {
    TQXMathParse e;
    Configure(e, "%2 - %1", 2);
    Link(e);
    Calc(e, 5);
    EXPECT_EQ(e.Value, 5);

    TData second;
    SetInteger(second, 3);
    TData first;
    SetInteger(first, 10);
    first.NextValue = &second;
    Calc(e, first);
    EXPECT_EQ(e.Value, 10 - 3);
    EXPECT_EQ(e.EventValue.NextValue, nullptr);  // no pointer into a finished frame is kept
}

TEST_F(MathParse, EachArgumentIsReadOncePerEvaluation) {
    TQXMathParse e;
    TSource s;
    SetInteger(s.Value, 4);
    Configure(e, "%1 * %1 + %01", 1);
    e.Arg[0] = QX_LINK(&s, readValue, 0);
    Link(e);
    Calc(e);
    EXPECT_EQ(e.Value, 20);
    EXPECT_EQ(s.Reads, 1);
    SetInteger(s.Value, 2);
    Calc(e);
    EXPECT_EQ(e.Value, 6);
    EXPECT_EQ(s.Reads, 2);

    s.Value.Kind = dtBreak;  // a Break answer falls back to the incoming value
    Calc(e, 3);
    EXPECT_EQ(e.Value, 12);

    EXPECT_EQ(Fails("%1").first, Syntax);  // ArgCount 0
    e.SetExpression("%2");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
    e.SetExpression("%1.5");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
    e.SetExpression("%4294967297");  // wraps to 1 in 32 bits, yet is no argument 1
    Calc(e);
    EXPECT_EQ(e.ErrorCode, mpNoError);
    e.SetExpression("%4294967295");  // wraps to -1
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
}

TEST_F(MathParse, ErrorMarkerPassesBetweenEvaluators) {
    for (const char* firstExpr : {"1/0", "1+"}) {
        TQXMathParse first, second;
        Configure(first, firstExpr);
        Configure(second, "%1 + 1", 1);
        first.onError = QX_LINK(&errors, doEvent, 0);
        Link(second);
        second.Arg[0] = QX_LINK(&first, readResult, 0);
        Calc(first);
        TData marker;
        first.readResult(marker, 0);
        EXPECT_EQ(marker.Kind, dtNull);
        EXPECT_EQ(marker.TextValue, "MathParse Exception");
        EXPECT_EQ(marker.IntValue, first.ErrorCode);

        errors.Seen.clear();
        Calc(second);
        EXPECT_EQ(second.ErrorCode, first.ErrorCode) << firstExpr;
        ASSERT_EQ(errors.Seen.size(), 1u);
        EXPECT_EQ(errors.Seen[0].IntValue, first.ErrorCode);
    }
}

TEST_F(MathParse, ResultDelivery) {
    TQXMathParse e;
    TData r;
    e.readResult(r, 0);  // never given a Default
    EXPECT_EQ(r.Kind, dtNull);
    EXPECT_EQ(r.IntValue, 0);
    EXPECT_EQ(r.TextValue, "MathParse Exception");

    Configure(e, "%1 / 2", 1, false);
    e.SetDefault(7.5);
    e.readResult(r, 0);
    EXPECT_EQ(r.Kind, dtInteger);
    EXPECT_EQ(r.IntValue, 8);
    Link(e);
    Calc(e, 5);  // 2.5
    Calc(e, 7);  // 3.5
    ASSERT_EQ(results.Seen.size(), 2u);
    EXPECT_EQ(results.Seen[0].Kind, dtInteger);
    EXPECT_EQ(results.Seen[0].IntValue, 2);
    EXPECT_EQ(results.Seen[1].IntValue, 4);
    e.ResultReal = true;
    e.readResult(r, 0);
    EXPECT_EQ(r.Kind, dtReal);
    EXPECT_EQ(r.RealValue, 3.5);
    Calc(e, 3);
    EXPECT_EQ(results.Seen.back().Kind, dtReal);
    EXPECT_EQ(results.Seen.back().RealValue, 1.5);
}

TEST_F(MathParse, IndexedArguments) {
    FakeArray a;
    a.Items = {1.5, 2.5, 3.5};
    FakeMatrix m;
    TQXMathParse e;
    Configure(e, "%1[1] + %1[0 + 2] + %2[1, 2.5]", 2);
    e.Arg[0] = QX_LINK(&a, readArray, 0);
    e.Arg[1] = QX_LINK(&m, readMatrix, 0);
    Link(e);
    Calc(e);
    EXPECT_EQ(e.ErrorCode, mpNoError);
    EXPECT_EQ(e.Value, 2.5 + 3.5 + 12);
    EXPECT_EQ(a.Reads, 2);  // not cached
    EXPECT_EQ(m.LastJ, 2);  // 2.5 rounds to even

    e.SetExpression("%1[1.5]");
    Calc(e);
    EXPECT_EQ(a.LastIndex, 1.5);  // passed unrounded
    EXPECT_EQ(e.ErrorCode, Calc1);

    for (const char* expr : {"%2[3, 0]", "%1[0, 0]", "%2[0]", "%1[7]"}) {
        e.SetExpression(expr);
        Calc(e);
        EXPECT_EQ(e.ErrorCode, Calc1) << expr;
    }
    e.SetExpression("%1[0");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
    e.SetExpression("%2[0, 0");
    Calc(e);
    EXPECT_EQ(e.ErrorCode, Syntax);
}

TEST_F(MathParse, MessageBoxWhenOnErrorIsUnlinked) {
    TQXMathParse e;
    Configure(e, "2+*3");
    e.onResult = QX_LINK(&results, doEvent, 0);
    int dummyWindow = 0;
    SetMessageOwner(&dummyWindow);
    TData v;
    SetInteger(v, 42);
    FireEvent(QX_LINK(&e, doCalc, 0), v);
    SetMessageOwner(nullptr);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Last().Caption, "String-Debug");
    EXPECT_EQ(boxes.Last().Text,
              "\xCE\xF8\xE8\xE1\xEA\xE0 \xF1\xE8\xED\xF2\xE0\xEA\xF1\xE8\xF1\xE0 \xE2 \xFD\xEB\xE5\xEC\xE5\xED\xF2\xE5 "
              "MathParser\r\n\xCE\xE1\xED\xE0\xF0\xF3\xE6\xE5\xED\xE0 \xE2 \xEF\xEE\xE7\xE8\xF6\xE8\xE8 3");
    EXPECT_EQ(boxes.Last().Owner, &dummyWindow);
    EXPECT_EQ(boxes.Last().Flags, mbOk);
    EXPECT_TRUE(results.Seen.empty());
    EXPECT_EQ(v.Kind, dtInteger);  // nothing forwarded
    EXPECT_EQ(v.IntValue, 42);

    e.SetExpression("(1) + ln(0)");
    // The state is final while the box is up: other chains may use the element.
    TData seen;
    boxes.WhileShown = [&] {
        e.readResult(seen, 0);
        boxes.WhileShown = nullptr;
        e.SetExpression("6*7");
        Calc(e);
    };
    Calc(e);
    ASSERT_EQ(boxes.Count(), 2u);
    EXPECT_EQ(boxes.Boxes[1].Text,
              "\xCE\xF8\xE8\xE1\xEA\xE0 \xE2\xFB\xF7\xE8\xF1\xEB\xE5\xED\xE8\xFF \xE2 \xFD\xEB\xE5\xEC\xE5\xED\xF2\xE5 "
              "MathParser\r\n\xCE\xE1\xED\xE0\xF0\xF3\xE6\xE5\xED\xE0 \xE2 \xEF\xEE\xE7\xE8\xF6\xE8\xE8 11");
    EXPECT_EQ(seen.Kind, dtNull);
    EXPECT_EQ(seen.IntValue, 1);
    ASSERT_EQ(results.Seen.size(), 1u);
    EXPECT_EQ(results.Seen[0].RealValue, 42);
}

struct Meddler {
    TQXMathParse* Target = nullptr;
    int Calls = 0;
    void readValue(TData& value, std::uint16_t) {
        ++Calls;
        TData in;
        Target->doCalc(in, 0);
        Target->SetExpression("999");
        Target->SetArgCount(0);
        SetInteger(value, 5);
    }
};

TEST_F(MathParse, ReentryFromAnArgumentRead) {
    TQXMathParse e;
    Meddler m;
    m.Target = &e;
    Configure(e, "%1 * 2 + 1", 1);
    e.Arg[0] = QX_LINK(&m, readValue, 0);
    Link(e);
    Calc(e);
    EXPECT_EQ(m.Calls, 1);
    EXPECT_EQ(e.ErrorCode, mpNoError);
    EXPECT_EQ(e.Value, 11);
    ASSERT_EQ(results.Seen.size(), 1u);
}

#ifdef _WIN32
// The real box through MessageBoxW: the Russian text must arrive intact as
// UTF-16 whatever the ANSI code page. A helper thread reads and closes it.
TEST(MathParseWin32, RealMessageBoxShowsTheRussianText) {
    StartFramework();
    TMessageBoxService* previous = SetMessageBox(nullptr);
    std::wstring shown;
    std::atomic<bool> found{false};
    std::thread closer([&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < until) {
            HWND box = FindWindowW(nullptr, L"String-Debug");
            if (box != nullptr) {
                EnumChildWindows(
                    box,
                    [](HWND child, LPARAM out) -> BOOL {
                        wchar_t buf[512];
                        const int n = GetWindowTextW(child, buf, 512);
                        if (n > 20) *reinterpret_cast<std::wstring*>(out) = std::wstring(buf, n);
                        return TRUE;
                    },
                    reinterpret_cast<LPARAM>(&shown));
                found = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    TQXMathParse e;
    e.SetArgCount(0);
    e.SetExpression("2+*3");
    e.SetDefault(0);
    TData v;
    FireEvent(QX_LINK(&e, doCalc, 0), v);
    closer.join();
    SetMessageBox(previous);
    StopFramework();
    ASSERT_TRUE(found);
    EXPECT_EQ(shown,
              L"\u041E\u0448\u0438\u0431\u043A\u0430 \u0441\u0438\u043D\u0442\u0430\u043A\u0441\u0438\u0441\u0430 "
              L"\u0432 \u044D\u043B\u0435\u043C\u0435\u043D\u0442\u0435 MathParser\r\n\u041E\u0431\u043D\u0430\u0440"
              L"\u0443\u0436\u0435\u043D\u0430 \u0432 \u043F\u043E\u0437\u0438\u0446\u0438\u0438 3");
}
#endif

}  // namespace
