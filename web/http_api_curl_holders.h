// Owners of curl's objects for the libcurl backend, each released on every path, and the
// count of the backend's live objects that shows a leak.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace korvanel {

// Session, connection and request handles, curl handles and curl header lists alive at this
// moment; zero once every handle has been closed. For the backend's tests.
int CurlBackendLiveObjects();

namespace curl {

// curl's global state, set up once for the process; false when curl could not start.
bool Ready();

struct EasyDeleter {
  void operator()(CURL* easy) const;
};
struct MultiDeleter {
  void operator()(CURLM* multi) const;
};
struct UrlDeleter {
  void operator()(CURLU* url) const;
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;

// Each a null pointer when curl could not make one.
EasyPtr NewEasy();
MultiPtr NewMulti();
UrlPtr NewUrl();

// A string curl allocated.
class String {
 public:
  String() = default;
  String(const String&) = delete;
  String& operator=(const String&) = delete;
  ~String() { curl_free(m_text); }

  char** Out() { return &m_text; }
  const char* Get() const { return m_text; }
  std::string Take() const { return m_text != nullptr ? std::string(m_text) : std::string(); }

 private:
  char* m_text = nullptr;
};

class HeaderList {
 public:
  HeaderList() = default;
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() { Reset(); }

  bool Append(const std::string& line);
  void Reset();
  curl_slist* Get() const { return m_list; }

 private:
  curl_slist* m_list = nullptr;
};

// The objects above that are alive, for CurlBackendLiveObjects.
int LiveObjects();

}  // namespace curl
}  // namespace korvanel
