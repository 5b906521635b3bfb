// The body budget's line: room is granted in arrival order, never beyond the capacity, and one
// who leaves the line lets those behind it on.
#include "body_budget.h"

#include <gtest/gtest.h>

#include <string>

namespace quorel::service {
namespace {

TEST(BodyBudget, GrantsRoomInOrderAndNeverBeyondItsCapacity) {
  BodyBudget budget(100);
  std::string granted;
  int owners[4];
  EXPECT_TRUE(budget.TakeOrWait(&owners[0], 60, [] {}));
  EXPECT_FALSE(budget.TakeOrWait(&owners[1], 50, [&] { granted += "1"; }));
  // Would fit, but waits behind the first in the line.
  EXPECT_FALSE(budget.TakeOrWait(&owners[2], 10, [&] { granted += "2"; }));
  EXPECT_EQ(budget.InUse(), 60u);
  budget.Give(60);
  EXPECT_EQ(granted, "12");
  EXPECT_EQ(budget.InUse(), 60u);
  EXPECT_FALSE(budget.TakeOrWait(&owners[3], 100, [&] { granted += "3"; }));
  budget.Give(50);
  EXPECT_EQ(granted, "12");
  budget.Give(10);
  EXPECT_EQ(granted, "123");
  EXPECT_EQ(budget.InUse(), 100u);
}

TEST(BodyBudget, OneLeavingTheLineLetsThoseBehindItOn) {
  BodyBudget budget(100);
  std::string granted;
  int owners[3];
  EXPECT_TRUE(budget.TakeOrWait(&owners[0], 50, [] {}));
  EXPECT_FALSE(budget.TakeOrWait(&owners[1], 80, [&] { granted += "1"; }));
  EXPECT_FALSE(budget.TakeOrWait(&owners[2], 40, [&] { granted += "2"; }));
  budget.Cancel(&owners[1]);
  EXPECT_EQ(granted, "2");
  EXPECT_EQ(budget.InUse(), 90u);
  budget.Cancel(&owners[1]);  // not in the line any more: nothing changes
  budget.Give(90);
  EXPECT_EQ(budget.InUse(), 0u);
  EXPECT_EQ(granted, "2");
}

}  // namespace
}  // namespace quorel::service
