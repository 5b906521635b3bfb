#include "request_target.h"

#include <algorithm>
#include <cctype>

#include "byte_escape.h"

namespace quorel::service {

namespace {

constexpr std::string_view kKeyParameter = "key=";

bool NeedsEscape(unsigned char byte) {
  if (byte <= 0x20 || byte >= 0x7F) return true;
  return std::string_view("\"<>\\^`{|}").find(static_cast<char>(byte)) != std::string_view::npos;
}

RequestTarget Reject(TargetVerdict verdict, std::string problem) {
  RequestTarget result;
  result.verdict = verdict;
  result.problem = std::move(problem);
  return result;
}

// Position of the "key=" that starts a parameter, or npos.
size_t FindKeyParameter(std::string_view query) {
  if (query.substr(0, kKeyParameter.size()) == kKeyParameter) return 0;
  const size_t found = query.find(std::string("&").append(kKeyParameter));
  return found == std::string_view::npos ? found : found + 1;
}

}  // namespace

RequestTarget ParseRequestTarget(std::string_view target) {
  const size_t questionMark = target.find('?');
  const std::string_view path = target.substr(0, questionMark);
  if (path != kRecognizePath) {
    return Reject(TargetVerdict::kUnknownPath,
                  "no such resource; POST to " + std::string(kRecognizePath));
  }
  if (questionMark == std::string_view::npos) {
    return Reject(TargetVerdict::kMissingKey, "no access key given (key=...)");
  }
  const std::string_view query = target.substr(questionMark + 1);
  const size_t keyAt = FindKeyParameter(query);
  const std::string_view before =
      keyAt == std::string_view::npos ? query : query.substr(0, keyAt == 0 ? 0 : keyAt - 1);

  bool haveOutput = false;
  bool haveLang = false;
  size_t start = 0;
  while (!before.empty() && start <= before.size()) {
    const size_t end = std::min(before.find('&', start), before.size());
    const std::string_view parameter = before.substr(start, end - start);
    if (parameter == "output=json" && !haveOutput) {
      haveOutput = true;
    } else if (parameter == "lang=en-us" && !haveLang) {
      haveLang = true;
    } else if (parameter.substr(0, 7) == "output=") {
      return Reject(TargetVerdict::kMalformedQuery, "output must be json, given once");
    } else if (parameter.substr(0, 5) == "lang=") {
      return Reject(TargetVerdict::kMalformedQuery, "lang must be en-us, given once");
    } else {
      return Reject(TargetVerdict::kMalformedQuery,
                    "unexpected query parameter before the key: " + std::string(parameter));
    }
    start = end + 1;
  }
  if (keyAt == std::string_view::npos || keyAt + kKeyParameter.size() == query.size()) {
    return Reject(TargetVerdict::kMissingKey, "no access key given (key=...)");
  }
  RequestTarget result;
  result.verdict = TargetVerdict::kAccepted;
  result.wireKey = query.substr(keyAt + kKeyParameter.size());
  return result;
}

std::string EncodeKeyForTarget(std::string_view key) {
  return EscapeBytes(key, "%", "0123456789ABCDEF", NeedsEscape);
}

std::string RedactKey(std::string_view target) {
  // Any spelling a client may have tried counts ("KEY=", ";key=", "&amp;key="): everything
  // after the first "key", matched without regard to case, is masked.
  constexpr std::string_view kName = "key";
  const auto sameLetter = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  };
  const auto found =
      std::search(target.begin(), target.end(), kName.begin(), kName.end(), sameLetter);
  if (found == target.end()) return std::string(target);
  size_t kept = static_cast<size_t>(found - target.begin()) + kName.size();
  if (kept < target.size() && target[kept] == '=') ++kept;
  return std::string(target.substr(0, kept)) + "***";
}

}  // namespace quorel::service
