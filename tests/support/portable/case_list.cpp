#include "support/portable/case_list.h"

namespace quorel::test {

std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}

void Describe(std::ostream& stream, const std::wstring& text) {
  for (wchar_t unit : text) stream << (unit < 0x80 ? static_cast<char>(unit) : '?');
}

bool CheckNoFaults(const char* file, int line, const char* text, const std::string& faults) {
  if (faults.empty()) return true;
  Fail(file, line, std::string(text) + ": " + faults);
  return false;
}

}  // namespace quorel::test
