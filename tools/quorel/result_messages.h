// Plain words for the library's result codes: the header's texts, a hint where the tool has one,
// and the code.
#pragma once

#include <cstdint>
#include <string>

namespace quorel::tool {

std::string DescribeStartResult(int32_t code);
std::string DescribeSpeechResult(int32_t code);

}  // namespace quorel::tool
