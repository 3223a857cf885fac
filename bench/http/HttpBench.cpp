// Sequential GETs to a local keep-alive server: the client against a plain
// libcurl easy-handle loop in the same run, plus the value layers' speed.
// Prints figures, asserts nothing.
#include <curl/curl.h>
#include <httplib.h>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "http/KivHttpClient.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

size_t Discard(char*, size_t s, size_t n, void*) { return s * n; }

double CurlLoop(const std::string& url, int count) {
  CURL* e = curl_easy_init();
  curl_slist* h = nullptr;
  h = curl_slist_append(h, "Accept: text/html");
  h = curl_slist_append(h, "Accept-Encoding: gzip, deflate");
  h = curl_slist_append(h, "Accept-Language: zh-cn,zh;q=0.8,en-us;q=0.5,en;q=0.3");
  h = curl_slist_append(h, "User-Agent: Mozilla/5.0 (Windows NT 5.1; rv:12.0) Gecko/20100101 Firefox/12.0");
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, h);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(e, CURLOPT_PROXY, "");
  int ok = 0;
  auto t0 = Clock::now();
  for (int i = 0; i < count; ++i) {
    long status = 0;
    if (curl_easy_perform(e) == CURLE_OK &&
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200)
      ++ok;
  }
  double s = Seconds(t0);
  curl_slist_free_all(h);
  curl_easy_cleanup(e);
  if (ok != count) std::printf("  (curl loop: %d of %d answered 200)\n", ok, count);
  return count / s;
}

double ClientLoop(const String& url, int count) {
  THttpClient client;
  client.SetRecvTimeOut(30000);
  int ok = 0;
  auto t0 = Clock::now();
  for (int i = 0; i < count; ++i)
    if (client.Get(url).StatusCode() == 200) ++ok;
  double s = Seconds(t0);
  if (ok != count) std::printf("  (client: %d of %d answered 200)\n", ok, count);
  return count / s;
}

void ValueLayers() {
  const String urls[] = {u"http://user:pw@www.example.com:8080/a/b/c.php?x=1&y=2#top",
                         u"https://www.366xsw.com#", u"h.com/go?u=http://x/y",
                         u"http://[::1]:8080/book/123/chapter_4.html"};
  const int n = 200000;
  auto t0 = Clock::now();
  size_t sink = 0;
  for (int i = 0; i < n; ++i) {
    TURI u{urls[i & 3]};
    sink += u.GetDocumentWithParams().size() + u.Port();
  }
  double s = Seconds(t0);
  std::printf("ParseURI + GetDocumentWithParams: %.0f URLs/s\n", n / s);

  const String text = u"https://www.example.com/search?q=斗破苍穹 第一章&page=2&tag=~玄幻~";
  t0 = Clock::now();
  for (int i = 0; i < n / 4; ++i) sink += EncodeURL(text, true).size();
  s = Seconds(t0);
  std::printf("EncodeURL (%zu chars, Chinese): %.0f texts/s\n", text.size(), (n / 4) / s);

  TCookieManager jar;
  TURI site{String(u"http://www.example.com/book/")};
  for (int i = 0; i < 50; ++i)
    jar.AddCookies(u"k" + IntToStr(i) + u"=v; Path=/; Expires=Sun, 06 Nov 2044 08:49:37 GMT", site);
  t0 = Clock::now();
  for (int i = 0; i < n / 10; ++i) sink += jar.GetCookies(site).size();
  s = Seconds(t0);
  std::printf("GetCookies over 50 cookies: %.0f calls/s\n", (n / 10) / s);
  if (sink == 42) std::printf(" ");
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
  InitHttpClient();
  for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(v);

  httplib::Server server;
  server.set_keep_alive_max_count(count * 4);
  // Without it, delayed ACKs dominate every small answer on both sides.
  server.set_socket_options([](socket_t sock) {
    int one = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  });
  server.Get("/ok", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("hello, book source", "application/x-bin");
  });
  int port = server.bind_to_any_port("127.0.0.1");
  std::thread thread([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/ok";

  // Warm-up, then alternate so that neither side gets the quieter moment.
  CurlLoop(url, 200);
  ClientLoop(FromUtf8(url), 200);
  double curlRate = 0, clientRate = 0;
  for (int round = 0; round < 2; ++round) {
    curlRate += CurlLoop(url, count / 2);
    clientRate += ClientLoop(FromUtf8(url), count / 2);
  }
  curlRate /= 2;
  clientRate /= 2;
  std::printf("%d sequential keep-alive GETs to 127.0.0.1\n", count);
  std::printf("  libcurl easy loop: %8.0f requests/s\n", curlRate);
  std::printf("  THttpClient      : %8.0f requests/s\n", clientRate);
  std::printf("  ratio            : %8.2f (goal >= 0.80)\n", clientRate / curlRate);

  server.stop();
  thread.join();
  ValueLayers();
  return 0;
}
