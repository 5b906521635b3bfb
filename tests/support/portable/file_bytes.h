// Whole files read and written as bytes, by the system's own paths.
#pragma once

#include <filesystem>
#include <string>

namespace quorel::test {

// Empty when the file cannot be read.
std::string ReadFile(const std::filesystem::path& path);
// Throws when the file cannot be written.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
bool FileExists(const std::filesystem::path& path);

}  // namespace quorel::test
