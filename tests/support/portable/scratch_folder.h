// A fresh folder under the system's temporary folder, removed with everything in it at the end
// of its scope. Paths are the system's own text: std::string on Linux, std::wstring on Windows.
#pragma once

#include <filesystem>

namespace quorel::test {

class ScratchFolder {
 public:
  using Text = std::filesystem::path::string_type;

  // Throws when no folder can be made.
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const Text& Root() const { return root_.native(); }
  // The path of name inside the folder.
  Text Path(const Text& name) const { return (root_ / name).native(); }

 private:
  std::filesystem::path root_;
};

}  // namespace quorel::test
