// The GoogleTest runner of the shared case list: each case becomes the test group.name, and a
// failed check a GoogleTest failure at the check's own file and line.
#include <gtest/gtest.h>

#include "support/portable/case_list.h"

namespace quorel::test {

void Fail(const char* file, int line, const std::string& message) {
  ADD_FAILURE_AT(file, line) << message;
}

namespace {

class ListedCase : public ::testing::Test {
 public:
  explicit ListedCase(CaseFunction function) : function_(function) {}
  void TestBody() override { function_(); }

 private:
  CaseFunction function_;
};

}  // namespace
}  // namespace quorel::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (const quorel::test::Case& listed : quorel::test::Cases()) {
    const quorel::test::CaseFunction function = listed.function;
    ::testing::RegisterTest(
        listed.group, listed.name, nullptr, nullptr, __FILE__, __LINE__,
        [function]() -> ::testing::Test* { return new quorel::test::ListedCase(function); });
  }
  return RUN_ALL_TESTS();
}
