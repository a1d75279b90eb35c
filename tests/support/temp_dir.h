// A fresh folder under the system's temporary folder for one test, removed with all it holds
// when the object goes; and whole-file reads and writes for what the tests put there.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace korvanel::test_support {

class TempDir {
 public:
  // Throws std::runtime_error when no folder can be made.
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  // The path of a file in the folder; name and result are UTF-8 (on Windows too, so they
  // can be handed to ChildProcess as arguments).
  std::filesystem::path PathOf(std::string_view name) const;
  std::string File(std::string_view name) const;
  // Writes bytes to the named file and returns its path as File does.
  std::string Write(std::string_view name, std::string_view bytes) const;
  // How many entries the folder holds (not counting those of its subfolders).
  std::size_t EntryCount() const;

 private:
  std::filesystem::path m_path;
};

// The path from UTF-8 text and back, the same on every platform.
std::filesystem::path Utf8Path(std::string_view utf8);
std::string Utf8Of(const std::filesystem::path& path);

// The bytes of a file; empty when it cannot be read. The path is UTF-8.
std::string ReadFile(const std::string& path);
// Replaces the file with bytes; throws std::runtime_error when it cannot be written.
void WriteFile(const std::string& path, std::string_view bytes);

}  // namespace korvanel::test_support
