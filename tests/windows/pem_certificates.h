// The certificates of a PEM file, in their order, as DER bytes.
#pragma once

#include <string>
#include <vector>

namespace quorel::test {

// Empty when the file cannot be read or a block cannot be decoded.
std::vector<std::vector<unsigned char>> ReadPemCertificates(const std::wstring& path);

}  // namespace quorel::test
