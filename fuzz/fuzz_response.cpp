// The response half of WebRequest, through the scripted HttpApi of the web tests: fuzzed raw
// header blocks (status lines, Set-Cookie and Location lines), bodies split into chunks,
// character-set declarations, cookies on entry and a failing call now and then. Every
// out-parameter is held to the rules it is built by, and every handle must be closed once,
// request first.
// Not a GoogleTest program: a handle the fake finds open when it goes aborts the run.
#define KORVANEL_FAKE_HTTP_API_WITHOUT_GTEST

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/reference_web.h"
#include "text/code_page.h"
#include "web/tests/fake_http_api.h"
#include "web/web_request.h"

namespace {

using fuzz::Escaped;
using korvanel::ByteSet;
using korvanel::FakeHttpApi;
using korvanel::HttpCall;

constexpr const char* kDeclarations[] = {
    "",
    "<meta charset=\"utf-8\">",
    "<META HTTP-EQUIV='Content-Type' CONTENT='text/html; CHARSET=gb2312'>",
    "<meta charset=gbk>",
    "<meta charset=GBK>",
    "<meta charset=big5>",
    "<meta charset=utf-16le>",
    "<meta charset=iso-8859-1>",
    "<meta charset=x-no-such-set>",
    "<meta charset= 'utf-8'>",
    "<meta\ncharset=utf-8>",
};

// Any occurrence, not only at character starts: the declaration is searched in the UTF-16
// form of the page, where a byte that cannot be a trail byte starts a character of its own.
bool HasFolded(std::string_view text, std::string_view word) {
  auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  return std::search(text.begin(), text.end(), word.begin(), word.end(),
                     [&](char a, char b) { return fold(a) == fold(b); }) != text.end();
}

// The cookies the rules collect from the header lines, added to what the caller held.
std::string CollectCookies(const std::string& headers, const std::string& entry) {
  std::string cookies = entry;
  bool needSeparator = !cookies.empty() && !(cookies.size() >= 2 && cookies.ends_with("; "));
  for (const std::string& line : ref::SplitText(headers, "\r\n")) {
    if (ref::TextLeftOf(line, ": ", 0, false) != "Set-Cookie") continue;
    std::string value = ref::FindText(line, ";", std::nullopt, false) != -1
                            ? ref::TextBetween(line, "Set-Cookie:", ";", 0, false)
                            : ref::ReplaceText(line, "Set-Cookie:", "", false);
    value = ref::TrimBoth(value);
    // The entry text and the first new cookie are kept apart by a separator, where a value
    // would otherwise be glued on.
    if (needSeparator && !value.empty()) cookies += cookies.back() == ';' ? " " : "; ";
    needSeparator = false;
    cookies += value;
    cookies += "; ";
  }
  if (cookies.size() >= 2 && cookies.ends_with("; ")) cookies.resize(cookies.size() - 2);
  return cookies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::uint8_t flags = in.ConsumeIntegral<std::uint8_t>();
  const std::uint8_t failure = in.ConsumeIntegral<std::uint8_t>();
  const bool alphabet = (flags & 1) != 0;

  FakeHttpApi api;
  std::string headers = fuzz::GbkText(in, 512, alphabet);
  if (flags & 2) headers = "HTTP/1.1 " + headers;
  api.SetRawHeaders(headers);
  const std::string declaration =
      kDeclarations[in.ConsumeIntegralInRange<size_t>(0, std::size(kDeclarations) - 1)];
  const int chunks = in.ConsumeIntegralInRange<int>(0, 4);
  ByteSet all;
  for (int i = 0; i < chunks; ++i) {
    std::string bytes = in.ConsumeRandomLengthString(1500);
    if (i == 0) bytes = declaration + bytes;
    // An empty chunk would read as the end of the body.
    if (bytes.empty()) continue;
    api.bodyChunks.emplace_back(bytes.begin(), bytes.end());
    all.insert(all.end(), bytes.begin(), bytes.end());
  }
  if (flags & 4) api.maxRead = in.ConsumeIntegralInRange<std::uint32_t>(1, 700);
  const int occurrence = in.ConsumeIntegralInRange<int>(1, 4);
  switch (failure % 8) {
    case 1: api.FailCall(HttpCall::kReadData, occurrence); break;
    case 2: api.FailCall(HttpCall::kQueryDataAvailable, occurrence); break;
    case 3: api.FailCall(HttpCall::kQueryHeaders, 2); break;
    case 4: api.FailCall(HttpCall::kReceiveResponse); break;
    default: break;
  }

  const std::string sendEntry = fuzz::GbkText(in, 64, alphabet);
  const std::string returnedEntry = in.ConsumeBool() ? fuzz::GbkText(in, 32, alphabet) : "";
  std::string sendCookies = sendEntry, returnedCookies = returnedEntry;
  std::string responseHeaders = "entry", redirect = "entry", status = "entry";
  ByteSet responseBytes = {1, 2, 3};
  korvanel::WebRequestOptions options;
  options.sendCookies = &sendCookies;
  options.returnedCookies = &returnedCookies;
  options.responseHeaders = &responseHeaders;
  options.redirectLocation = &redirect;
  options.statusText = &status;
  options.responseBytes = &responseBytes;
  options.mergeCookies = (flags & 8) == 0;
  const std::string result =
      korvanel::WebRequest(api, "http://127.0.0.1:8580/korvanelapi.php?yundanhao=1&type=html", options);

  FUZZ_CHECK(api.OpenHandleCount() == 0 && api.misuse.empty(),
             "%d handles left open, %zu misuses (%s)\n", api.OpenHandleCount(), api.misuse.size(),
             api.misuse.empty() ? "" : api.misuse.front().c_str());
  FUZZ_CHECK(result.find('\0') == std::string::npos, "result holds a zero byte\n");

  if (failure % 8 == 4) {
    FUZZ_CHECK(result.empty() && responseHeaders == "entry" && returnedCookies == returnedEntry,
               "a response that never came still wrote out-parameters\n");
    return 0;
  }
  if (failure % 8 == 3) {
    // Without the header block nothing of the response reaches the caller.
    FUZZ_CHECK(result.empty() && responseHeaders == "entry" && redirect == "entry" &&
                   returnedCookies == returnedEntry && sendCookies == sendEntry &&
                   (responseBytes == ByteSet{1, 2, 3}) &&
                   (status == "entry" || status.rfind("713 ", 0) == 0),
               "failed header query: result %s, status %s\n", Escaped(result).c_str(),
               Escaped(status).c_str());
    return 0;
  }

  // The header block as the caller sees it: the text after its round trip through UTF-16.
  ByteSet wide;
  for (char16_t unit : api.rawHeaders) {
    wide.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    wide.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  wide.push_back(0);
  wide.push_back(0);
  const std::string block = korvanel::UnicodeToAnsi(wide);
  FUZZ_CHECK(responseHeaders == block, "responseHeaders %s, expected %s\n",
             Escaped(responseHeaders).c_str(), Escaped(block).c_str());

  const int statusEnd = ref::FindText(block, "\r\n", 10, false);
  const std::string wantStatus = ref::TextMid(block, 10, statusEnd - 10);
  FUZZ_CHECK(status == wantStatus, "statusText %s, expected %s (headers %s)\n",
             Escaped(status).c_str(), Escaped(wantStatus).c_str(), Escaped(block).c_str());

  std::string wantRedirect = "entry";
  for (const std::string& line : ref::SplitText(block, "\r\n")) {
    if (ref::EqualIgnoringCase(ref::TextLeft(line, 10), "Location: ")) {
      wantRedirect = ref::TextMid(line, 11, static_cast<ref::i64>(line.size()) - 10);
    }
  }
  FUZZ_CHECK(redirect == wantRedirect, "redirectLocation %s, expected %s\n",
             Escaped(redirect).c_str(), Escaped(wantRedirect).c_str());

  std::string wantReturned = CollectCookies(block, returnedEntry);
  std::string wantSend = sendEntry;
  if (options.mergeCookies && !sendEntry.empty()) {
    wantReturned = ref::MergeCookies(wantSend, wantReturned);
  }
  FUZZ_CHECK(returnedCookies == wantReturned && sendCookies == wantSend,
             "cookies: returned %s send %s, expected returned %s send %s (headers %s)\n",
             Escaped(returnedCookies).c_str(), Escaped(sendCookies).c_str(),
             Escaped(wantReturned).c_str(), Escaped(wantSend).c_str(), Escaped(block).c_str());

  // The body: every byte when the reads went through, a prefix of them when one failed.
  const bool readFailed = failure % 8 == 1 || failure % 8 == 2;
  const bool prefix = responseBytes.size() <= all.size() &&
                      std::equal(responseBytes.begin(), responseBytes.end(), all.begin());
  FUZZ_CHECK(readFailed ? prefix : responseBytes == all, "responseBytes: %zu of %zu bytes\n",
             responseBytes.size(), all.size());

  // Only a declaration in the first 1024 bytes of the text can change the result.
  const std::string text = korvanel::BytesToText(responseBytes);
  if (!HasFolded(ref::TextLeft(text, 1024), "charset=") || !HasFolded(text, "<meta")) {
    FUZZ_CHECK(result == text, "result %s differs from the undeclared body %s\n",
               Escaped(result).c_str(), Escaped(text).c_str());
  }
  return 0;
}
