// A scratch directory for one test, removed with everything in it when the test ends.
#pragma once

#include <string>

namespace korvanel::endpoint::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }
  // Writes bytes to the named file and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string m_path;
};

}  // namespace korvanel::endpoint::testing
