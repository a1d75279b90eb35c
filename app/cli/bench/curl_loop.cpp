// The baseline of the batch benchmark: the same GETs that waybill-query sends, one after
// another, each on a fresh libcurl handle and so a fresh connection (as the request routine
// opens a fresh session per call), with nothing else done to the pages than keeping them.
//   waybill-curl-loop HOST[:PORT] LIST
// LIST holds one waybill number per line (LF or CR LF). Prints how many requests got a 2xx.
#include <curl/curl.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

size_t Keep(char* data, size_t size, size_t count, void* page) {
  static_cast<std::string*>(page)->append(data, size * count);
  return size * count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: waybill-curl-loop HOST[:PORT] LIST\n");
    return 2;
  }
  std::ifstream list(argv[2], std::ios::binary);
  if (!list) {
    std::fprintf(stderr, "waybill-curl-loop: cannot read %s\n", argv[2]);
    return 2;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const std::string prefix = std::string("http://") + argv[1] + "/korvanelapi.php?yundanhao=";
  int answered = 0;
  int failed = 0;
  for (std::string number; std::getline(list, number);) {
    if (!number.empty() && number.back() == '\r') number.pop_back();
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return 1;
    // The number goes in as waybill-query puts it: unchanged, but for the spaces that an
    // address cannot carry.
    std::string escaped;
    for (char c : number) escaped += c == ' ' ? std::string("%20") : std::string(1, c);
    const std::string url = prefix + escaped + "&type=html";
    std::string page;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Keep);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &page);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    long status = 0;
    if (curl_easy_perform(curl) == CURLE_OK &&
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status / 100 == 2) {
      ++answered;
    } else {
      ++failed;
    }
    curl_easy_cleanup(curl);
  }
  curl_global_cleanup();
  std::printf("%d answered, %d failed\n", answered, failed);
  return failed == 0 ? 0 : 1;
}
