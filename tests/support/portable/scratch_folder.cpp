#include "support/portable/scratch_folder.h"

#include <random>
#include <stdexcept>
#include <string>

namespace quorel::test {

ScratchFolder::ScratchFolder() {
  // Drawn, so that test programs running side by side never pick the same name.
  static std::mt19937_64 draw{std::random_device{}()};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    root_ = base / ("quorel-test-" + std::to_string(draw()));
    std::error_code error;
    if (std::filesystem::create_directory(root_, error)) return;
  }
  throw std::runtime_error("cannot make a scratch folder in " + base.string());
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

}  // namespace quorel::test
