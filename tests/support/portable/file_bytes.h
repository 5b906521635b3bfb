// Whole files read and written as bytes.
#pragma once

#include <string>

namespace quorel::test {

// Empty when the file cannot be read.
std::string ReadFile(const std::string& path);
// Throws when the file cannot be written.
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

}  // namespace quorel::test
