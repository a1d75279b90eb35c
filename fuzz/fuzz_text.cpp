// The text primitives and marker extraction, each against the plain reference walk of
// reference_text.h, on random code page 936 looking bytes. Any difference aborts.
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_text.h"
#include "text/markers.h"
#include "text/text.h"

namespace {

using fuzz::Escaped;

// Mostly positions near the text, where the edge rules live; sometimes any int at all.
int Position(FuzzedDataProvider& in, size_t length) {
  if (in.ConsumeBool()) return in.ConsumeIntegral<int>();
  return in.ConsumeIntegralInRange<int>(-3, static_cast<int>(length) + 3);
}

// Every ASCII letter's case swapped, trail bytes included.
std::string SwapCase(std::string s) {
  for (char& c : s) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = static_cast<char>(c ^ 0x20);
  }
  return s;
}

void CheckSearches(const std::string& t, const std::string& s, int start) {
  for (bool ic : {false, true}) {
    const int a = korvanel::FindText(t, s, std::nullopt, ic);
    const int b = ref::FindText(t, s, std::nullopt, ic);
    FUZZ_CHECK(a == b, "FindText(%s, %s, -, %d) = %d, expected %d\n", Escaped(t).c_str(),
               Escaped(s).c_str(), ic, a, b);
    const int c = korvanel::FindText(t, s, start, ic);
    const int d = ref::FindText(t, s, start, ic);
    FUZZ_CHECK(c == d, "FindText(%s, %s, %d, %d) = %d, expected %d\n", Escaped(t).c_str(),
               Escaped(s).c_str(), start, ic, c, d);
    const int e = korvanel::FindTextReverse(t, s, std::nullopt, ic);
    const int f = ref::FindTextReverse(t, s, std::nullopt, ic);
    FUZZ_CHECK(e == f, "FindTextReverse(%s, %s, -, %d) = %d, expected %d\n", Escaped(t).c_str(),
               Escaped(s).c_str(), ic, e, f);
    const int g = korvanel::FindTextReverse(t, s, start, ic);
    const int h = ref::FindTextReverse(t, s, start, ic);
    FUZZ_CHECK(g == h, "FindTextReverse(%s, %s, %d, %d) = %d, expected %d\n", Escaped(t).c_str(),
               Escaped(s).c_str(), start, ic, g, h);
  }
}

void CheckRewrites(const std::string& t, const std::string& s, const std::string& r) {
  for (bool cs : {false, true}) {
    const std::string a = korvanel::ReplaceText(t, s, r, cs);
    const std::string b = ref::ReplaceText(t, s, r, cs);
    FUZZ_CHECK(a == b, "ReplaceText(%s, %s, %s, %d) = %s, expected %s\n", Escaped(t).c_str(),
               Escaped(s).c_str(), Escaped(r).c_str(), cs, Escaped(a).c_str(), Escaped(b).c_str());
  }
  const korvanel::TextArray pieces = korvanel::SplitText(t, s);
  const ref::TextArray expected = ref::SplitText(t, s);
  FUZZ_CHECK(pieces == expected, "SplitText(%s, %s): %zu pieces, expected %zu\n",
             Escaped(t).c_str(), Escaped(s).c_str(), pieces.size(), expected.size());

  const std::string trimmed = korvanel::TrimBoth(t);
  FUZZ_CHECK(trimmed == ref::TrimBoth(t), "TrimBoth(%s) = %s, expected %s\n", Escaped(t).c_str(),
             Escaped(trimmed).c_str(), Escaped(ref::TrimBoth(t)).c_str());
  const std::string upper = korvanel::ToUpper(t);
  FUZZ_CHECK(upper == ref::ToUpper(t), "ToUpper(%s) = %s\n", Escaped(t).c_str(),
             Escaped(upper).c_str());
}

void CheckComparisons(const std::string& t, const std::string& s) {
  const std::string others[] = {s, ref::ToUpper(t), SwapCase(t), t};
  for (const std::string& o : others) {
    const int exact = korvanel::CompareText(t, o, true);
    FUZZ_CHECK((exact == 0) == (t == o), "CompareText(%s, %s, true) = %d\n", Escaped(t).c_str(),
               Escaped(o).c_str(), exact);
    const int back = korvanel::CompareText(o, t, true);
    FUZZ_CHECK((exact < 0) == (back > 0) && (exact > 0) == (back < 0),
               "CompareText(%s, %s, true) not antisymmetric: %d, %d\n", Escaped(t).c_str(),
               Escaped(o).c_str(), exact, back);
    const int folded = korvanel::CompareText(t, o, false);
    FUZZ_CHECK((folded == 0) == ref::EqualIgnoringCase(t, o), "CompareText(%s, %s, false) = %d\n",
               Escaped(t).c_str(), Escaped(o).c_str(), folded);
    const int folded2 = korvanel::CompareText(o, t, false);
    FUZZ_CHECK((folded < 0) == (folded2 > 0) && (folded > 0) == (folded2 < 0),
               "CompareText(%s, %s, false) not antisymmetric: %d, %d\n", Escaped(t).c_str(),
               Escaped(o).c_str(), folded, folded2);
    FUZZ_CHECK(korvanel::TextEquals(t, o) == (t == o), "TextEquals\n");
  }
}

void CheckCuts(const std::string& t, int a, int b) {
  FUZZ_CHECK(korvanel::TextLeft(t, a) == ref::TextLeft(t, a), "TextLeft(%s, %d)\n",
             Escaped(t).c_str(), a);
  FUZZ_CHECK(korvanel::TextRight(t, a) == ref::TextRight(t, a), "TextRight(%s, %d)\n",
             Escaped(t).c_str(), a);
  FUZZ_CHECK(korvanel::TextMid(t, a, b) == ref::TextMid(t, a, b), "TextMid(%s, %d, %d)\n",
             Escaped(t).c_str(), a, b);
  const int code = korvanel::CharCode(t);
  FUZZ_CHECK(code == (t.empty() ? 0 : static_cast<signed char>(t[0])), "CharCode(%s) = %d\n",
             Escaped(t).c_str(), code);
  const std::string one = korvanel::CharFromCode(a);
  FUZZ_CHECK((a & 0xFF) == 0 ? one.empty() : one == std::string(1, static_cast<char>(a & 0xFF)),
             "CharFromCode(%d) = %s\n", a, Escaped(one).c_str());
  FUZZ_CHECK(korvanel::TextLength(t) == static_cast<int>(t.size()), "TextLength\n");
}

void CheckMarkers(const std::string& t, const std::string& m1, const std::string& m2, int sp) {
  for (bool ic : {false, true}) {
    std::string a = korvanel::TextRightOf(t, m1, sp, ic);
    std::string b = ref::TextRightOf(t, m1, sp, ic);
    FUZZ_CHECK(a == b, "TextRightOf(%s, %s, %d, %d) = %s, expected %s\n", Escaped(t).c_str(),
               Escaped(m1).c_str(), sp, ic, Escaped(a).c_str(), Escaped(b).c_str());
    a = korvanel::TextLeftOf(t, m1, sp, ic);
    b = ref::TextLeftOf(t, m1, sp, ic);
    FUZZ_CHECK(a == b, "TextLeftOf(%s, %s, %d, %d) = %s, expected %s\n", Escaped(t).c_str(),
               Escaped(m1).c_str(), sp, ic, Escaped(a).c_str(), Escaped(b).c_str());
    a = korvanel::TextBetween(t, m1, m2, sp, ic);
    b = ref::TextBetween(t, m1, m2, sp, ic);
    FUZZ_CHECK(a == b, "TextBetween(%s, %s, %s, %d, %d) = %s, expected %s\n", Escaped(t).c_str(),
               Escaped(m1).c_str(), Escaped(m2).c_str(), sp, ic, Escaped(a).c_str(),
               Escaped(b).c_str());
  }
  // The forms the program itself calls: every optional argument omitted.
  FUZZ_CHECK(korvanel::TextRightOf(t, m1) == ref::TextRightOf(t, m1, 0, false), "TextRightOf\n");
  FUZZ_CHECK(korvanel::TextLeftOf(t, m1) == ref::TextLeftOf(t, m1, 0, false), "TextLeftOf\n");
  FUZZ_CHECK(korvanel::TextBetween(t, m1, m2) == ref::TextBetween(t, m1, m2, 0, false),
             "TextBetween\n");
}

void CheckFile(const std::string& bytes) {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_text." + std::to_string(getpid());
  }();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  const std::string got = korvanel::ReadTextFile(path);
  std::remove(path.c_str());
  FUZZ_CHECK(got == ref::FileText(bytes), "ReadTextFile of %s = %s, expected %s\n",
             Escaped(bytes).c_str(), Escaped(got).c_str(), Escaped(ref::FileText(bytes)).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::uint8_t mode = in.ConsumeIntegral<std::uint8_t>();
  const bool alphabet = (mode & 1) != 0;
  if (mode & 0x80) {
    // Raw bytes, zeros and 0x1A included, as a waybill file would hold them.
    std::string bytes = in.ConsumeRemainingBytesAsString();
    if (alphabet) {
      for (char& c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        c = static_cast<char>(b % 7 == 0 ? 0 : fuzz::kAlphabet[b % sizeof fuzz::kAlphabet]);
      }
    }
    CheckFile(bytes);
    return 0;
  }
  const std::string sought = fuzz::GbkText(in, 8, alphabet);
  const std::string other = fuzz::GbkText(in, 8, alphabet);
  const std::string text = fuzz::GbkText(in, 256, alphabet);
  const int a = Position(in, text.size());
  const int b = Position(in, text.size());

  CheckSearches(text, sought, a);
  CheckRewrites(text, sought, other);
  CheckComparisons(text, sought);
  CheckCuts(text, a, b);
  CheckMarkers(text, sought, other, a);
  // The quote token in a marker stands for a double quote.
  if (mode & 2) CheckMarkers(text, sought + std::string(ref::kQuoteToken), other, b);
  return 0;
}
