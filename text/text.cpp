#include "text/text.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include <sys/stat.h>

#include "text/code_page.h"
#include "text/utf8.h"

namespace korvanel {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

inline unsigned char Byte(const char* p, std::size_t i) {
  return static_cast<unsigned char>(p[i]);
}

// A byte of 0x80 or above starts a double-byte character as the text routines count them
// (whether or not code page 936 gives the pair a character).
inline bool IsHighByte(unsigned char c) { return c >= 0x80; }

inline bool IsAsciiLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Folds only the ASCII letters, so every other byte (double-byte characters included)
// keeps its own value.
constexpr std::array<unsigned char, 256> MakeFoldTable() {
  std::array<unsigned char, 256> table{};
  for (int i = 0; i < 256; ++i) {
    table[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
  }
  return table;
}
constexpr std::array<unsigned char, 256> kFold = MakeFoldTable();

inline unsigned char Fold(unsigned char c) { return kFold[c]; }

bool EqualFolded(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (kFold[Byte(a, i)] != kFold[Byte(b, i)]) return false;
  }
  return true;
}

bool HasAsciiLetter(std::string_view s) {
  for (char c : s) {
    if (IsAsciiLetter(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

// Length of the run of bytes of 0x80 or above that ends just before pos, not looking
// before floor. Eight bytes at a time where it can, since pages of Chinese text hold long
// runs.
std::size_t HighRunBefore(const char* p, std::size_t floor, std::size_t pos) {
  std::size_t i = pos;
  while (i - floor >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i - 8, 8);
    if ((word & 0x8080808080808080ull) != 0x8080808080808080ull) break;
    i -= 8;
  }
  while (i > floor && IsHighByte(Byte(p, i - 1))) --i;
  return pos - i;
}

// A byte below 0x80 always ends a character, so whether pos starts a character of a walk
// that started at the character start `sync` depends only on the run of high bytes just
// before pos: an even run means pos is a character start.
inline bool IsCharStart(const char* p, std::size_t sync, std::size_t pos) {
  return HighRunBefore(p, sync, pos) % 2 == 0;
}

// Like string_view::find, but a candidate's last byte is checked before the rest, which
// spares most comparisons on markup where the first byte ('<') is everywhere.
std::size_t FindExact(std::string_view text, std::size_t pos, std::string_view sought) {
  const std::size_t m = sought.size();
  if (text.size() < m || pos > text.size() - m) return kNone;
  const char* p = text.data();
  const char* const last = p + (text.size() - m);
  const char first = sought[0];
  const char final = sought[m - 1];
  for (const char* q = p + pos; q <= last; ++q) {
    q = static_cast<const char*>(std::memchr(q, first, static_cast<std::size_t>(last - q) + 1));
    if (q == nullptr) return kNone;
    if (q[m - 1] == final && std::memcmp(q + 1, sought.data() + 1, m - 1) == 0) {
      return static_cast<std::size_t>(q - p);
    }
  }
  return kNone;
}

// The last offset at or before pos holding byte b, eight bytes at a time.
std::size_t LastByteAtOrBefore(const char* p, std::size_t pos, char b) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  const std::uint64_t pattern = kOnes * static_cast<unsigned char>(b);
  std::size_t end = pos + 1;
  while (end >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p + end - 8, 8);
    const std::uint64_t x = word ^ pattern;
    if (((x - kOnes) & ~x & kHighs) != 0) break;  // some byte of the word is b
    end -= 8;
  }
  while (end > 0) {
    --end;
    if (p[end] == b) return end;
  }
  return kNone;
}

// The next offset at or after pos where sought matches, ignoring character starts.
std::size_t NextCandidate(std::string_view text, std::size_t pos, std::string_view sought,
                          bool fold) {
  if (!fold) return FindExact(text, pos, sought);
  const std::size_t m = sought.size();
  if (text.size() < m) return kNone;
  const std::size_t last = text.size() - m;
  const unsigned char first = Fold(static_cast<unsigned char>(sought[0]));
  const char* p = text.data();
  for (std::size_t i = pos; i <= last; ++i) {
    if (kFold[Byte(p, i)] == first && EqualFolded(p + i + 1, sought.data() + 1, m - 1)) {
      return i;
    }
  }
  return kNone;
}

// The last offset at or before pos where sought matches wholly inside text, ignoring
// character starts.
std::size_t PrevCandidate(std::string_view text, std::size_t pos, std::string_view sought,
                          bool fold) {
  const std::size_t m = sought.size();
  if (text.size() < m) return kNone;
  std::size_t i = std::min(pos, text.size() - m);
  const char* p = text.data();
  if (fold) {
    const unsigned char first = Fold(static_cast<unsigned char>(sought[0]));
    for (;; --i) {
      if (kFold[Byte(p, i)] == first && EqualFolded(p + i + 1, sought.data() + 1, m - 1)) {
        return i;
      }
      if (i == 0) return kNone;
    }
  }
  const char first = sought[0];
  const char final = sought[m - 1];
  for (;;) {
    i = LastByteAtOrBefore(p, i, first);
    if (i == kNone) return kNone;
    if (p[i + m - 1] == final && std::memcmp(p + i + 1, sought.data() + 1, m - 1) == 0) return i;
    if (i == 0) return kNone;
    --i;
  }
}

// Offset of the first occurrence of a non-empty sought text at a character start of a
// walk that begins at offset from, or kNone.
std::size_t FindForward(std::string_view text, std::size_t from, std::string_view sought,
                        bool ignoreCase) {
  const std::size_t len = text.size();
  if (from >= len || len - from < sought.size()) return kNone;
  const bool fold = ignoreCase && HasAsciiLetter(sought);
  const char* p = text.data();
  std::size_t sync = from;
  std::size_t pos = from;
  for (;;) {
    const std::size_t c = NextCandidate(text, pos, sought, fold);
    if (c == kNone) return kNone;
    if (IsCharStart(p, sync, c)) {
      // A lead byte at the very end is a cut-off character, which ends the walk.
      if (c == len - 1 && IsHighByte(Byte(p, c))) return kNone;
      return c;
    }
    // c is the second byte of a character, so the next byte starts one.
    sync = c + 1;
    pos = c + 1;
  }
}

// Offset of the last occurrence of a non-empty sought text that ends within the first
// range bytes, at a character start of a walk from the first byte; or kNone.
std::size_t FindBackward(std::string_view text, std::size_t range, std::string_view sought,
                         bool ignoreCase) {
  const std::size_t len = text.size();
  if (range < sought.size()) return kNone;
  const bool fold = ignoreCase && HasAsciiLetter(sought);
  const std::string_view window = text.substr(0, range);
  const char* p = text.data();
  // The last run of high bytes measured: [runStart, runEnd) holds only high bytes and
  // runStart starts a character, so any position inside it is decided by its parity.
  std::size_t runStart = 1;
  std::size_t runEnd = 0;
  std::size_t pos = range - sought.size();
  for (;;) {
    const std::size_t c = PrevCandidate(window, pos, sought, fold);
    if (c == kNone) return kNone;
    if (c < runStart || c > runEnd) {
      runStart = c - HighRunBefore(p, 0, c);
      runEnd = c;
    }
    if ((c - runStart) % 2 == 0 && !(c == len - 1 && IsHighByte(Byte(p, c)))) return c;
    if (c == 0) return kNone;
    pos = c - 1;
  }
}

inline int ToInt(std::size_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

}  // namespace

int TextLength(std::string_view text) { return ToInt(text.size()); }

Text TextLeft(std::string_view text, int count) {
  if (count <= 0) return {};
  return Text(text.substr(0, static_cast<std::size_t>(count)));
}

Text TextRight(std::string_view text, int count) {
  if (count <= 0) return {};
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(count));
  return Text(text.substr(text.size() - n));
}

Text TextMid(std::string_view text, int start, int count) {
  if (start < 1 || count <= 0 || static_cast<std::size_t>(start) > text.size()) return {};
  return Text(text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(count)));
}

int CharCode(std::string_view text) {
  if (text.empty()) return 0;
  return static_cast<signed char>(text[0]);
}

Text CharFromCode(int code) {
  const char c = static_cast<char>(static_cast<unsigned int>(code) & 0xFFu);
  if (c == 0) return {};
  return Text(1, c);
}

int FindText(std::string_view text, std::string_view sought, std::optional<int> start,
             bool ignoreCase) {
  const std::size_t from =
      start && *start > 1 ? static_cast<std::size_t>(*start) - 1 : std::size_t{0};
  if (from >= text.size()) return -1;
  if (sought.empty()) return 1;
  const std::size_t c = FindForward(text, from, sought, ignoreCase);
  return c == kNone ? -1 : ToInt(c + 1);
}

int FindTextReverse(std::string_view text, std::string_view sought, std::optional<int> start,
                    bool ignoreCase) {
  std::size_t range = text.size();
  if (start) {
    if (*start <= 1) return -1;
    range = std::min(range, static_cast<std::size_t>(*start) - 1);
  }
  if (range == 0) return -1;
  if (sought.empty()) return 1;
  const std::size_t c = FindBackward(text, range, sought, ignoreCase);
  return c == kNone ? -1 : ToInt(c + 1);
}

Text ReplaceText(std::string_view text, std::string_view sought, std::string_view replacement,
                 bool caseSensitive) {
  if (text.empty() || sought.empty()) return Text(text);
  Text out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t c = FindForward(text, pos, sought, !caseSensitive);
    if (c == kNone) break;
    if (out.empty()) out.reserve(text.size());
    out.append(text.data() + pos, c - pos);
    out.append(replacement);
    pos = c + sought.size();
  }
  std::size_t end = text.size();
  // The walk only reaches the last byte when a one-byte sought text still fits there; a
  // cut-off character it reaches is dropped.
  if (sought.size() == 1 && pos < end && IsHighByte(Byte(text.data(), end - 1)) &&
      IsCharStart(text.data(), pos, end - 1)) {
    --end;
  }
  if (pos == 0 && end == text.size()) return Text(text);
  out.append(text.data() + pos, end - pos);
  return out;
}

TextArray SplitText(std::string_view text, std::string_view separator) {
  TextArray pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  std::size_t pos = 0;
  for (;;) {
    const std::size_t c = FindForward(text, pos, separator, false);
    if (c == kNone) break;
    pieces.emplace_back(text.substr(pos, c - pos));
    pos = c + separator.size();
  }
  if (pos < text.size()) pieces.emplace_back(text.substr(pos));
  return pieces;
}

Text TrimBoth(std::string_view text) {
  const char* p = text.data();
  const std::size_t len = text.size();
  auto isWideSpace = [&](std::size_t i) {
    return Byte(p, i) == 0xA1 && i + 1 < len && Byte(p, i + 1) == 0xA1;
  };
  std::size_t begin = 0;
  while (begin < len) {
    if (p[begin] == ' ') {
      ++begin;
    } else if (isWideSpace(begin)) {
      begin += 2;
    } else {
      break;
    }
  }
  std::size_t runStart = kNone;
  std::size_t i = begin;
  while (i < len) {
    const unsigned char c = Byte(p, i);
    if (c == ' ') {
      if (runStart == kNone) runStart = i;
      ++i;
    } else if (IsHighByte(c)) {
      if (i + 1 == len) {
        // A cut-off character at the end goes; the spaces before it stay.
        return Text(text.substr(begin, i - begin));
      }
      if (isWideSpace(i)) {
        if (runStart == kNone) runStart = i;
      } else {
        runStart = kNone;
      }
      i += 2;
    } else {
      runStart = kNone;
      ++i;
    }
  }
  const std::size_t end = runStart == kNone ? len : runStart;
  return Text(text.substr(begin, end - begin));
}

Text ToUpper(std::string_view text) {
  Text out(text);
  const std::size_t len = out.size();
  for (std::size_t i = 0; i < len;) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsHighByte(c)) {
      i += 2;
    } else {
      if (c >= 'a' && c <= 'z') out[i] = static_cast<char>(c - ('a' - 'A'));
      ++i;
    }
  }
  return out;
}

int CompareText(std::string_view a, std::string_view b, bool caseSensitive) {
  if (caseSensitive) {
    const int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
  }
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n) {
    const unsigned char ca = Byte(a.data(), i);
    const unsigned char cb = Byte(b.data(), i);
    if (IsHighByte(ca) || IsHighByte(cb)) {
      // Whole double-byte characters compare exactly, their second bytes unfolded.
      if (ca != cb) return Fold(ca) < Fold(cb) ? -1 : 1;
      const int ta = i + 1 < a.size() ? Byte(a.data(), i + 1) : -1;
      const int tb = i + 1 < b.size() ? Byte(b.data(), i + 1) : -1;
      if (ta != tb) return ta < tb ? -1 : 1;
      i += 2;
    } else {
      if (Fold(ca) != Fold(cb)) return Fold(ca) < Fold(cb) ? -1 : 1;
      ++i;
    }
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool TextEquals(std::string_view a, std::string_view b) { return a == b; }

Text ConcatText(std::initializer_list<std::string_view> pieces) {
  std::size_t total = 0;
  for (std::string_view piece : pieces) total += piece.size();
  Text out;
  out.reserve(total);
  for (std::string_view piece : pieces) out.append(piece);
  return out;
}

ByteSet TextToBytes(std::string_view text) { return ByteSet(text.begin(), text.end()); }

Text BytesToText(const ByteSet& bytes) {
  const void* zero = bytes.empty() ? nullptr : std::memchr(bytes.data(), 0, bytes.size());
  const std::size_t n =
      zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes.data())
           : bytes.size();
  return Text(reinterpret_cast<const char*>(bytes.data()), n);
}

int ByteCount(const ByteSet& bytes) { return ToInt(bytes.size()); }

ByteSet BytesLeft(const ByteSet& bytes, int count) {
  if (count <= 0) return {};
  const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(count));
  return ByteSet(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

ByteSet BlankBytes(int count) {
  if (count <= 0) return {};
  return ByteSet(static_cast<std::size_t>(count), 0);
}

ByteSet BytesFromAddress(const void* address, int count) {
  if (address == nullptr || count <= 0) return {};
  const auto* p = static_cast<const std::uint8_t*>(address);
  return ByteSet(p, p + count);
}

ByteSet ConcatBytes(std::initializer_list<const ByteSet*> pieces) {
  std::size_t total = 0;
  for (const ByteSet* piece : pieces) {
    if (piece) total += piece->size();
  }
  ByteSet out;
  out.reserve(total);
  for (const ByteSet* piece : pieces) {
    if (piece) out.insert(out.end(), piece->begin(), piece->end());
  }
  return out;
}

bool BytesEqual(const ByteSet& a, const ByteSet& b) { return a == b; }

int ElementCount(const TextArray& array) { return ToInt(array.size()); }

const Text& ElementAt(const TextArray& array, int index) {
  static const Text empty;
  if (index < 1 || static_cast<std::size_t>(index) > array.size()) return empty;
  return array[static_cast<std::size_t>(index) - 1];
}

void AppendElement(TextArray& array, std::string_view text) { array.emplace_back(text); }

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

#ifdef _WIN32
FilePtr OpenForReading(std::string_view path) {
  // _wfopen shares the file for reading and writing with other processes.
  const std::u16string wide = AnsiToUtf16(path);
  if (wide.empty()) return nullptr;
  return FilePtr(_wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()), L"rb"));
}

// The size of a plain file, to read it in one go; nothing for anything else.
std::optional<std::size_t> PlainFileSize(std::FILE* file) {
  struct _stat64 info;
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return {};
  return static_cast<std::size_t>(std::min<std::int64_t>(info.st_size, INT_MAX));
}
#else
// The platform names files in UTF-8; the program's paths are code page 936.
std::string FileSystemName(std::string_view path) {
  bool ascii = true;
  for (char c : path) ascii = ascii && !IsHighByte(static_cast<unsigned char>(c));
  if (ascii) return std::string(path);
  return AnsiToUtf8(path);
}

FilePtr OpenForReading(std::string_view path) {
  const std::string name = FileSystemName(path);
  if (name.empty()) return nullptr;
  return FilePtr(std::fopen(name.c_str(), "rbe"));
}

// The size of a plain file, to read it in one go; nothing for anything else.
std::optional<std::size_t> PlainFileSize(std::FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return static_cast<std::size_t>(std::min<std::int64_t>(info.st_size, INT_MAX));
}
#endif

}  // namespace

Text ReadTextFile(std::string_view path) {
  // A path, like any text, ends at its first zero byte.
  path = path.substr(0, path.find('\0'));
  if (path.empty()) return {};
  FilePtr file = OpenForReading(path);
  if (!file) return {};

  // Positions are ints, so a text cannot grow past INT_MAX bytes; reading stops there.
  constexpr std::size_t kLimit = INT_MAX;
  std::size_t capacity = std::size_t{1} << 16;
  // One byte more than the size, so that the end is seen without growing the buffer.
  if (const std::optional<std::size_t> size = PlainFileSize(file.get())) {
    capacity = std::min(kLimit, std::max(capacity, *size + 1));
  }
  Text data;
  std::size_t used = 0;
  for (;;) {
    if (used == capacity) {
      if (capacity == kLimit) break;
      capacity = std::min(kLimit, capacity * 2);
    }
    data.resize(capacity);
    const std::size_t got = std::fread(data.data() + used, 1, capacity - used, file.get());
    used += got;
    if (got == 0) break;
  }
  if (std::ferror(file.get())) return {};
  data.resize(used);
  return TextFromFileBytes(std::move(data));
}

Text TextFromFileBytes(std::string data) {
  const std::size_t used = data.size();
  const char* p = data.data();
  std::size_t end = used;
  if (const void* zero = std::memchr(p, 0, used)) {
    end = static_cast<std::size_t>(static_cast<const char*>(zero) - p);
    // A zero in place of a second byte ends the text before its cut-off lead byte.
    if (!IsCharStart(p, 0, end)) --end;
  }
  // 0x1A ends the text only where a character starts; as a second byte it is data.
  std::size_t from = 0;
  while (from < end) {
    const void* hit = std::memchr(p + from, 0x1A, end - from);
    if (!hit) break;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - p);
    if (IsCharStart(p, from, at)) {
      end = at;
      break;
    }
    from = at + 1;
  }
  data.resize(end);
  // Give back the room only when much was cut: shrinking copies the whole text.
  if (end < data.capacity() / 2) data.shrink_to_fit();
  return data;
}

}  // namespace korvanel
