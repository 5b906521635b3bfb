// The library takes UTF-16 text; the command line gives UTF-8.
#pragma once

#include <string>

namespace quorel::tool {

// False for text that is not valid UTF-8.
bool Utf8ToUtf16(const std::string& text, std::u16string* out);

}  // namespace quorel::tool
