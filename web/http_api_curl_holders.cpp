#include "web/http_api_curl_holders.h"

#include <atomic>
#include <mutex>

namespace korvanel::curl {
namespace {

std::atomic<int> g_liveObjects{0};

}  // namespace

bool Ready() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

void EasyDeleter::operator()(CURL* easy) const {
  curl_easy_cleanup(easy);
  --g_liveObjects;
}
void MultiDeleter::operator()(CURLM* multi) const {
  curl_multi_cleanup(multi);
  --g_liveObjects;
}
void UrlDeleter::operator()(CURLU* url) const {
  curl_url_cleanup(url);
  --g_liveObjects;
}

EasyPtr NewEasy() {
  CURL* easy = curl_easy_init();
  if (easy != nullptr) ++g_liveObjects;
  return EasyPtr(easy);
}
MultiPtr NewMulti() {
  CURLM* multi = curl_multi_init();
  if (multi != nullptr) ++g_liveObjects;
  return MultiPtr(multi);
}
UrlPtr NewUrl() {
  CURLU* url = curl_url();
  if (url != nullptr) ++g_liveObjects;
  return UrlPtr(url);
}

bool HeaderList::Append(const std::string& line) {
  curl_slist* grown = curl_slist_append(m_list, line.c_str());
  if (grown == nullptr) return false;
  if (m_list == nullptr) ++g_liveObjects;
  m_list = grown;
  return true;
}

void HeaderList::Reset() {
  if (m_list == nullptr) return;
  curl_slist_free_all(m_list);
  m_list = nullptr;
  --g_liveObjects;
}

int LiveObjects() { return g_liveObjects.load(); }

}  // namespace korvanel::curl
