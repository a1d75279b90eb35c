// The header text helpers, the request header block and the cookie merge against their
// step-by-step references, on header-like code page 936 bytes. Any difference aborts.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_web.h"
#include "web/cookies.h"
#include "web/header_text.h"
#include "web/request_headers.h"

namespace {

using fuzz::Escaped;

void CheckHeaderText(const std::string& block, const std::string& name) {
  const std::string normalized = korvanel::NormalizeHeaderNames(block);
  FUZZ_CHECK(normalized == ref::NormalizeHeaderNames(block),
             "NormalizeHeaderNames(%s) = %s, expected %s\n", Escaped(block).c_str(),
             Escaped(normalized).c_str(), Escaped(ref::NormalizeHeaderNames(block)).c_str());
  FUZZ_CHECK(normalized == ref::NormalizeHeaderNamesInEffect(block),
             "NormalizeHeaderNames(%s) = %s, but each line copied with its name's words "
             "capitalised gives %s\n",
             Escaped(block).c_str(), Escaped(normalized).c_str(),
             Escaped(ref::NormalizeHeaderNamesInEffect(block)).c_str());
  // Normalising is idempotent: a second pass has nothing left to change.
  FUZZ_CHECK(korvanel::NormalizeHeaderNames(normalized) == normalized,
             "NormalizeHeaderNames not idempotent on %s\n", Escaped(block).c_str());

  const std::string value = korvanel::FindHeaderValue(block, name);
  FUZZ_CHECK(value == ref::FindHeaderValue(block, name),
             "FindHeaderValue(%s, %s) = %s, expected %s\n", Escaped(block).c_str(),
             Escaped(name).c_str(), Escaped(value).c_str(),
             Escaped(ref::FindHeaderValue(block, name)).c_str());
  const std::string word = korvanel::CapitalizeFirst(name);
  FUZZ_CHECK(word == ref::CapitalizeFirst(name), "CapitalizeFirst(%s)\n", Escaped(name).c_str());
}

void CheckRequestBlock(const std::string& extra, int method, const std::string& cookies,
                       bool addDefaults, bool normalize) {
  const std::string got =
      korvanel::BuildRequestHeaderBlock(extra, method, cookies, addDefaults, normalize);
  const std::string want =
      ref::BuildRequestHeaderBlock(extra, method, cookies, addDefaults, normalize);
  FUZZ_CHECK(got == want, "BuildRequestHeaderBlock(%s, %d, %s, %d, %d) = %s, expected %s\n",
             Escaped(extra).c_str(), method, Escaped(cookies).c_str(), addDefaults, normalize,
             Escaped(got).c_str(), Escaped(want).c_str());
}

void CheckCookies(const std::string& oldCookies, const std::string& newCookies) {
  std::string o1 = oldCookies, n1 = newCookies;
  std::string o2 = oldCookies, n2 = newCookies;
  const std::string got = korvanel::MergeCookies(o1, n1);
  const std::string want = ref::MergeCookies(o2, n2);
  FUZZ_CHECK(got == want && o1 == o2 && n1 == n2,
             "MergeCookies(%s, %s) = %s (old %s, new %s), expected %s (old %s, new %s)\n",
             Escaped(oldCookies).c_str(), Escaped(newCookies).c_str(), Escaped(got).c_str(),
             Escaped(o1).c_str(), Escaped(n1).c_str(), Escaped(want).c_str(), Escaped(o2).c_str(),
             Escaped(n2).c_str());
  FUZZ_CHECK(o1 == got, "MergeCookies leaves its result in oldCookies\n");
  // Merging the result with nothing new changes nothing more than trimming would.
  std::string again = got, none;
  const std::string twice = korvanel::MergeCookies(again, none);
  std::string refAgain = got, refNone;
  FUZZ_CHECK(twice == ref::MergeCookies(refAgain, refNone), "MergeCookies(%s, \"\")\n",
             Escaped(got).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::uint8_t mode = in.ConsumeIntegral<std::uint8_t>();
  const bool alphabet = (mode & 1) != 0;
  const int method = in.ConsumeIntegralInRange<int>(-1, 8);
  const std::string name = fuzz::GbkText(in, 16, alphabet);
  const std::string cookies = fuzz::GbkText(in, 128, alphabet);
  const std::string block = fuzz::GbkText(in, 512, alphabet);

  CheckHeaderText(block, name);
  CheckHeaderText(block, "Connection");
  CheckRequestBlock(block, method, cookies, (mode & 2) == 0, (mode & 4) == 0);
  CheckCookies(cookies, block);
  CheckCookies(block, cookies);
  return 0;
}
