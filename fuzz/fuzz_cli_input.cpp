// The command-line tool's reading of waybill lists: a list with Linux line ends must split
// like one with CR LF, and a file must give the numbers the desktop import would list once
// its lone LFs are line ends.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/cli/waybill_input.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reference_text.h"

namespace {

using fuzz::Escaped;

// Every CR LF pair, left to right, as a single LF.
std::string LineFeedsOnly(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool alphabet = in.ConsumeBool();
  std::string bytes = in.ConsumeRemainingBytesAsString();
  if (alphabet) {
    for (char& c : bytes) {
      const unsigned char b = static_cast<unsigned char>(c);
      c = static_cast<char>(b % 11 == 0 ? 0 : fuzz::kAlphabet[b % sizeof fuzz::kAlphabet]);
    }
  }
  const std::string text = ref::FileText(bytes);
  const std::string crlf = korvanel::cli::WithCrLfLineEnds(text);
  for (size_t i = 0; i < crlf.size(); ++i) {
    FUZZ_CHECK(crlf[i] != '\n' || (i > 0 && crlf[i - 1] == '\r'),
               "WithCrLfLineEnds(%s) left a lone LF\n", Escaped(text).c_str());
  }
  FUZZ_CHECK(LineFeedsOnly(crlf) == LineFeedsOnly(text),
             "WithCrLfLineEnds(%s) = %s changed more than line ends\n", Escaped(text).c_str(),
             Escaped(crlf).c_str());

  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_cli_input." + std::to_string(getpid());
  }();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  korvanel::TextArray numbers;
  std::string error;
  const bool ok = korvanel::cli::ReadWaybillList(path, &numbers, &error);
  std::remove(path.c_str());
  FUZZ_CHECK(ok, "ReadWaybillList failed on a readable file: %s\n", error.c_str());
  const ref::TextArray want = ref::SplitText(crlf, "\r\n");
  FUZZ_CHECK(numbers == want, "ReadWaybillList of %s: %zu numbers, expected %zu\n",
             Escaped(bytes).c_str(), numbers.size(), want.size());
  return 0;
}
