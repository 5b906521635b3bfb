// The service's JSON error answers, checked alike in process and over the network.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace quorel::test {

// The code of the JSON error in body, after checking that it gives status and a message; "" and
// a failure when body is no JSON error.
inline std::string ErrorCode(const std::string& body, long status) {
  const auto json = nlohmann::json::parse(body, nullptr, false);
  if (!json.is_object() || !json.contains("error") || !json["error"].is_object()) {
    ADD_FAILURE() << "not a JSON error: " << body;
    return "";
  }
  const auto& error = json["error"];
  EXPECT_EQ(error.value("status", 0), status) << body;
  EXPECT_FALSE(error.value("message", "").empty()) << body;
  return error.value("code", "");
}

}  // namespace quorel::test
