#include "endpoint/tests/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace korvanel::endpoint::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "endpoint-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch directory");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::string file = File(name);
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

}  // namespace korvanel::endpoint::testing
