#pragma once
// The evaluator's tests: an element configured as a scheme does it, its
// results and errors recorded, and stand-ins for the arrays and matrices
// that indexed arguments read.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "elements/mathparse.h"
#include "tests/support/fake_msgbox.h"
#include "tests/support/probes.h"

struct FakeArray {
    TArrayMethods Methods;
    std::vector<double> Items;
    double LastIndex = -1;
    int Reads = 0;
    FakeArray() {
        Methods.ReadItem = &Read;
        Methods.ReadItemObject = this;
    }
    static bool Read(void* self, const TData& index, TData& result) {
        auto* a = static_cast<FakeArray*>(self);
        a->LastIndex = index.RealValue;
        const double i = index.RealValue;
        if (index.Kind != dtReal || i < 0 || i >= static_cast<double>(a->Items.size()) || i != std::floor(i)) return false;
        SetReal(result, a->Items[static_cast<std::size_t>(i)]);
        return true;
    }
    void readArray(TData& value, std::uint16_t) {
        ++Reads;
        value.Kind = dtArray;
        value.ObjectRef = &Methods;
    }
};

struct FakeMatrix {
    TMatrixMethods Methods;
    std::int32_t LastI = -99, LastJ = -99;
    FakeMatrix() {
        Methods.ReadItem = &Read;
        Methods.ReadItemObject = this;
    }
    // Item (i, j) is 10 * i + j inside 3 x 3; nothing outside.
    static void Read(void* self, std::int32_t i, std::int32_t j, TData& result) {
        auto* m = static_cast<FakeMatrix*>(self);
        m->LastI = i;
        m->LastJ = j;
        if (i >= 0 && i < 3 && j >= 0 && j < 3) SetInteger(result, 10 * i + j);
    }
    void readMatrix(TData& value, std::uint16_t) {
        value.Kind = dtMatrix;
        value.ObjectRef = &Methods;
    }
};

class MathParse : public ::testing::Test {
protected:
    void SetUp() override { StartFramework(); }
    void TearDown() override { StopFramework(); }

    // The order a scheme uses.
    void Configure(TQXMathParse& e, const std::string& expr, int args = 0, bool real = true, bool degrees = false) {
        e.SetArgCount(args);
        e.SetExpression(expr);
        e.ResultReal = real;
        e.SetDefault(0.0);
        e.SetDegrees(degrees);
    }
    void Link(TQXMathParse& e) {
        e.onResult = QX_LINK(&results, doEvent, 0);
        e.onError = QX_LINK(&errors, doEvent, 0);
    }
    void Calc(TQXMathParse& e, TData in = TData()) { FireEvent(QX_LINK(&e, doCalc, 0), in); }
    void Calc(TQXMathParse& e, std::int32_t in) {
        TData v;
        SetInteger(v, in);
        Calc(e, v);
    }

    double Eval(const std::string& expr, bool degrees = false) {
        TQXMathParse e;
        Configure(e, expr, 0, true, degrees);
        Link(e);
        results.Seen.clear();
        errors.Seen.clear();
        Calc(e);
        EXPECT_EQ(e.ErrorCode, mpNoError) << expr << " failed at " << e.ReadPos;
        EXPECT_EQ(results.Seen.size(), 1u) << expr;
        return e.Value;
    }
    // (code, position) of a failing expression.
    std::pair<int, int> Fails(const std::string& expr, bool degrees = false) {
        TQXMathParse e;
        Configure(e, expr, 0, true, degrees);
        Link(e);
        errors.Seen.clear();
        results.Seen.clear();
        Calc(e);
        EXPECT_TRUE(results.Seen.empty()) << expr;
        EXPECT_EQ(errors.Seen.size(), 1u) << expr;
        if (!errors.Seen.empty()) {
            EXPECT_EQ(errors.Seen[0].IntValue, e.ErrorCode);
        }
        return {e.ErrorCode, e.ReadPos};
    }

    FakeMessageBox boxes;  // no real box in a test run
    TRecorder results, errors;
};

using P = std::pair<int, int>;
constexpr int Syntax = mpSyntaxError;
constexpr int Calc1 = mpCalcError;
