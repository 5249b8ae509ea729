#pragma once
// A test suite sharing one pseudo-terminal pair: made once per suite, drained
// before every test. Natively a machine without ptys skips the suite; under
// Wine the pair is part of the test set-up, so its absence is a failure.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/serial_pty.h"

// The line the modem is driven with: 2400 baud, 8N1, no CTS flow control.
inline void ExpectModemLine(const TPortReadback& r, const char* source) {
    EXPECT_EQ(r.Baud, 2400) << source;
    EXPECT_EQ(r.DataBits, 8) << source;
    EXPECT_EQ(r.Parity, 'N') << source;
    EXPECT_EQ(r.StopBits, 10) << source;
    EXPECT_FALSE(r.OutCtsFlow) << source;
}

class TPtyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pty_ = std::make_unique<TSerialPty>();
        if (!pty_->Start(whyNot_)) pty_.reset();
    }
    static void TearDownTestSuite() { pty_.reset(); }
    // Derived fixtures call this first and stop when it skipped or failed.
    void SetUp() override {
        if (pty_ == nullptr && RunsUnderWine()) FAIL() << "no pseudo-terminal port: " << whyNot_;
        if (pty_ == nullptr) GTEST_SKIP() << "no pseudo-terminal port: " << whyNot_;
        pty_->Drain();  // bytes nobody read stay in the pair
    }
    bool Ready() const { return !IsSkipped() && !HasFailure(); }

    static inline std::unique_ptr<TSerialPty> pty_;
    static inline std::string whyNot_;
};
