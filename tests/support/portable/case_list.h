// Test cases written once for both systems, as short named cases with checks. A case file
// uses only this header and portable support; each system links it to a runner of its own:
// GoogleTest on Linux (tests/support/gtest_cases), the Wine runner on Windows (mingw's win32
// thread model builds no GoogleTest). Each runner defines Fail and runs Cases().
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace quorel::test {

using CaseFunction = void (*)();

struct Case {
  const char* group;
  const char* name;
  CaseFunction function;
};

// Every case of the program, in the order of registration.
inline std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}

// Marks the running case failed, with where and why (the runner's own report).
void Fail(const char* file, int line, const std::string& message);
// For the shared checks, which answer with what is wrong: fails unless faults is empty.
inline bool CheckNoFaults(const char* file, int line, const char* text, const std::string& faults) {
  if (!faults.empty()) Fail(file, line, std::string(text) + ": " + faults);
  return faults.empty();
}

template <typename T>
void Describe(std::ostream& stream, const T& value) {
  stream << value;
}
// Wide text shows its ASCII characters and '?' for the others.
inline void Describe(std::ostream& stream, const std::wstring& text) {
  for (wchar_t unit : text) stream << (unit < 0x80 ? static_cast<char>(unit) : '?');
}

// Fails with both values shown unless holds(a, b); each side is evaluated once.
template <typename A, typename B, typename Holds>
bool CheckRelation(const char* file, int line, const char* aText, const char* relation,
                   const char* bText, const A& a, const B& b, Holds holds) {
  if (holds(a, b)) return true;
  std::ostringstream message;
  message << aText << relation << bText << " (";
  Describe(message, a);
  message << " vs ";
  Describe(message, b);
  message << ")";
  Fail(file, line, message.str());
  return false;
}

}  // namespace quorel::test

#define QUOREL_CASE(group, name)                                                \
  static void group##_##name();                                                 \
  [[maybe_unused]] static const bool group##_##name##_registered =              \
      (quorel::test::Cases().push_back({#group, #name, group##_##name}), true); \
  static void group##_##name()

#define CHECK(condition) \
  ((condition) ? true : (quorel::test::Fail(__FILE__, __LINE__, #condition), false))
#define CHECK_EQ(a, b) \
  quorel::test::CheckRelation(__FILE__, __LINE__, #a, " == ", #b, (a), (b), std::equal_to<>())
#define CHECK_NO_FAULTS(faults) quorel::test::CheckNoFaults(__FILE__, __LINE__, #faults, (faults))
#define CHECK_GE(a, b) \
  quorel::test::CheckRelation(__FILE__, __LINE__, #a, " >= ", #b, (a), (b), std::greater_equal<>())
#define CHECK_LT(a, b) \
  quorel::test::CheckRelation(__FILE__, __LINE__, #a, " < ", #b, (a), (b), std::less<>())
// Ends the case when the check fails: what follows depends on it.
#define REQUIRE(condition)         \
  do {                             \
    if (!CHECK(condition)) return; \
  } while (0)
#define REQUIRE_EQ(a, b)         \
  do {                           \
    if (!CHECK_EQ(a, b)) return; \
  } while (0)
