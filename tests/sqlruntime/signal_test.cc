// sqlsignal: suspending and restoring the break handler of the
// connectivity layer around work that must not be interrupted.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

#include "connect/asfutil.h"
#include "connect/break_control.h"
#include "sqlruntime/connection.h"

namespace {

std::atomic<int> g_breaks{0};
void CountBreak(int slot) {
  if (slot == 20) g_breaks.fetch_add(1);
}

TEST(SignalTest, SuspendsAndRestoresTheBreakHandler) {
  // Without break handling set up, nothing changes.
  EXPECT_EQ(asf_break_state(), 0);
  EXPECT_EQ(sqlsignal(0, nullptr, 1), 0);
  EXPECT_EQ(asf_break_state(), 0);

  asf_break_setup();
  EXPECT_EQ(asf_break_state(), 1);
  os_set_interrupt_handler(20, CountBreak);
  raise(SIGINT);
  EXPECT_EQ(g_breaks.load(), 1);

  // Mode 0 is ignored; restoring before suspending does nothing.
  EXPECT_EQ(sqlsignal(0, nullptr, 0), 0);
  EXPECT_EQ(sqlsignal(0, nullptr, 2), 0);
  EXPECT_EQ(asf_break_state(), 1);

  EXPECT_EQ(sqlsignal(7, nullptr, 1), 0);
  EXPECT_EQ(asf_break_state(), 2);
  raise(SIGINT);  // ignored while suspended
  EXPECT_EQ(g_breaks.load(), 1);
  EXPECT_EQ(sqlsignal(0, nullptr, 1), 0);  // a second suspend keeps the saved handler
  EXPECT_EQ(sqlsignal(0, nullptr, 2), 0);
  EXPECT_EQ(asf_break_state(), 1);
  raise(SIGINT);
  EXPECT_EQ(g_breaks.load(), 2);
}

}  // namespace
