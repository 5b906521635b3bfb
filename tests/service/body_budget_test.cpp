// The body budget's line: room is granted in arrival order, never beyond the capacity, and one
// who leaves the line lets those behind it on.
#include "body_budget.h"

#include <gtest/gtest.h>

#include <string>

namespace quorel::service {
namespace {

// A line of owners; granted lists them as their room comes after a wait.
class BodyBudgetLine : public testing::Test {
 protected:
  bool Take(int owner, size_t bytes) {
    return budget_.TakeOrWait(&owners_[owner], bytes, [this, owner] { granted_ += '0' + owner; });
  }

  BodyBudget budget_{100};
  int owners_[4];
  std::string granted_;
};

TEST_F(BodyBudgetLine, GrantsRoomInOrderAndNeverBeyondItsCapacity) {
  EXPECT_TRUE(Take(0, 60));
  EXPECT_FALSE(Take(1, 50));
  EXPECT_FALSE(Take(2, 10));  // would fit, but waits behind the first in the line
  EXPECT_EQ(budget_.InUse(), 60u);
  budget_.Give(60);
  EXPECT_EQ(granted_, "12");
  EXPECT_EQ(budget_.InUse(), 60u);
  EXPECT_FALSE(Take(3, 100));
  budget_.Give(50);
  EXPECT_EQ(granted_, "12");
  budget_.Give(10);
  EXPECT_EQ(granted_, "123");
  EXPECT_EQ(budget_.InUse(), 100u);
}

TEST_F(BodyBudgetLine, OneLeavingTheLineLetsThoseBehindItOn) {
  EXPECT_TRUE(Take(0, 50));
  EXPECT_FALSE(Take(1, 80));
  EXPECT_FALSE(Take(2, 40));
  budget_.Cancel(&owners_[1]);
  EXPECT_EQ(granted_, "2");
  EXPECT_EQ(budget_.InUse(), 90u);
  budget_.Cancel(&owners_[1]);  // not in the line any more: nothing changes
  budget_.Give(90);
  EXPECT_EQ(budget_.InUse(), 0u);
  EXPECT_EQ(granted_, "2");
}

}  // namespace
}  // namespace quorel::service
