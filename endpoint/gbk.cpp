#include "endpoint/gbk.h"

#include <iconv.h>

#include <cerrno>

#include "text/iconv_descriptor.h"

namespace korvanel::endpoint {
namespace {

// The whole input in one go; nullopt when a byte sequence does not convert.
std::optional<std::string> Convert(IconvDescriptor& converter, std::string_view input) {
  iconv_t cd = converter.Ready();
  if (cd == nullptr) return std::nullopt;
  std::string out(input.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  size_t done = 0;
  while (inLeft > 0) {
    char* outPtr = out.data() + done;
    size_t outLeft = out.size() - done;
    size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    done = out.size() - outLeft;
    if (r != static_cast<size_t>(-1)) break;
    if (errno != E2BIG) return std::nullopt;  // EILSEQ or a cut-off last character
    out.resize(out.size() * 2);
  }
  out.resize(done);
  return out;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= bytes.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      auto t = static_cast<unsigned char>(bytes[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
  // One descriptor per direction and thread: iconv keeps shift state, so it cannot be
  // shared, and opening one per call would cost more than the conversion itself.
  thread_local IconvDescriptor converter("UTF-8", "CP936");
  return Convert(converter, gbk);
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  if (!IsValidUtf8(utf8)) return std::nullopt;
  thread_local IconvDescriptor converter("CP936", "UTF-8");
  return Convert(converter, utf8);
}

std::string Utf8ToGbkLossy(std::string_view utf8) {
  if (auto whole = Utf8ToGbk(utf8)) return *std::move(whole);
  // Character by character, so one bad character does not take the rest with it.
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    auto c = static_cast<unsigned char>(utf8[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (i + len > utf8.size()) len = utf8.size() - i;
    auto piece = Utf8ToGbk(utf8.substr(i, len));
    if (piece && !piece->empty()) {
      out += *piece;
    } else {
      out += '?';
    }
    i += len;
  }
  return out;
}

}  // namespace korvanel::endpoint
