#include "tests/support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace korvanel::test_support {

std::filesystem::path Utf8Path(std::string_view utf8) {
  // A char8_t string is read as UTF-8 everywhere; a plain one would be taken in the
  // system's ANSI code page on Windows.
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

TempDir::TempDir() {
  // create_directory is false when the name is taken, so a fresh name is tried again; there
  // is no mkdtemp on Windows.
  std::random_device seed;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base / ("korvanel-test." + std::to_string(seed()) + std::to_string(seed()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      m_path = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder under " + Utf8Of(base));
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TempDir::PathOf(std::string_view name) const {
  return m_path / Utf8Path(name);
}

std::string TempDir::File(std::string_view name) const { return Utf8Of(PathOf(name)); }

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
  const std::string file = File(name);
  WriteFile(file, bytes);
  return file;
}

std::size_t TempDir::EntryCount() const {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_path)) ++count;
  return count;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(Utf8Path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace korvanel::test_support
