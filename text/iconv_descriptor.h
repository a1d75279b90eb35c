// The owner of one iconv conversion descriptor, for the code that converts through glibc.
#pragma once

#include <iconv.h>

#include <cstdint>

namespace korvanel {

class IconvDescriptor {
 public:
  IconvDescriptor(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~IconvDescriptor() {
    if (Valid()) iconv_close(m_cd);
  }
  IconvDescriptor(const IconvDescriptor&) = delete;
  IconvDescriptor& operator=(const IconvDescriptor&) = delete;

  // False when iconv lacks the conversion.
  bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)); }
  // The descriptor in its initial shift state, or nullptr when iconv lacks the conversion.
  iconv_t Ready() {
    if (!Valid()) return nullptr;
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    return m_cd;
  }

 private:
  iconv_t m_cd;
};

}  // namespace korvanel
