// A component on a fresh pseudo-terminal with a test main loop; after each
// test every worker thread it started must have ended.
#pragma once

#include <memory>

#include <gtest/gtest.h>

#include "serial/VaComm.h"
#include "tests/serial/pty_pair.h"
#include "tests/serial/test_main_loop.h"

namespace zp::test {

template <typename TComm>
class TCommFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        baseline = LiveCommThreads();
        comm = std::make_unique<TComm>();
        comm->SetDeviceName(pty.SlavePath());
    }
    void TearDown() override {
        comm.reset();
        // Every worker ends by itself once stopped.
        EXPECT_TRUE(loop.RunUntil([&] { return LiveCommThreads() == baseline; }));
    }

    TTestMainLoop loop;
    TPtyPair pty;
    int baseline = 0;
    std::unique_ptr<TComm> comm;
};

}  // namespace zp::test
