#include "HttpTestServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace {

int ListenLocal(int Backlog, int& Port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(fd, Backlog) != 0) {
    close(fd);
    return -1;
  }
  socklen_t len = sizeof(a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  Port = ntohs(a.sin_port);
  return fd;
}

int ConnectLocal(int Port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(Port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

// ---------------------------------------------------------------- httplib

TLocalHttpServer::TLocalHttpServer(const std::string& CertFile, const std::string& KeyFile) {
  if (!CertFile.empty()) {
    FServer = std::make_unique<httplib::SSLServer>(CertFile.c_str(), KeyFile.c_str());
    FTls = true;
  } else {
    FServer = std::make_unique<httplib::Server>();
  }
  FServer->set_keep_alive_max_count(100000);
}

int TLocalHttpServer::Start() {
  FPort = FServer->bind_to_any_port("127.0.0.1");
  FThread = std::thread([this] { FServer->listen_after_bind(); });
  // The socket listens already; connections queue until the loop runs.
  for (int i = 0; i < 200 && !FServer->is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return FPort;
}

TLocalHttpServer::~TLocalHttpServer() {
  FServer->stop();
  if (FThread.joinable()) FThread.join();
}

std::string TLocalHttpServer::Url(const std::string& Path) const {
  return std::string(FTls ? "https" : "http") + "://127.0.0.1:" + std::to_string(FPort) + Path;
}

// ---------------------------------------------------------------- raw server

TRawServer::TRawServer(TBehaviour Behaviour) : FBehaviour(std::move(Behaviour)) {
  FListen = ListenLocal(16, FPort);
  FThread = std::thread([this] { Run(); });
}

TRawServer::~TRawServer() {
  FStop = true;
  shutdown(FListen, SHUT_RDWR);
  if (FThread.joinable()) FThread.join();
  close(FListen);
  std::lock_guard<std::mutex> lock(FLock);
  for (int fd : FConnections) shutdown(fd, SHUT_RDWR);
  for (auto& t : FWorkers) t.join();
  for (int fd : FConnections) close(fd);
}

std::string TRawServer::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + Path;
}

void TRawServer::Run() {
  while (!FStop) {
    pollfd p{FListen, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int fd = accept(FListen, nullptr, nullptr);
    if (fd < 0) continue;
    ++FAccepted;
    std::lock_guard<std::mutex> lock(FLock);
    FConnections.push_back(fd);
    FWorkers.emplace_back([this, fd] {
      std::string head = ReadHead(fd);
      if (!head.empty()) FBehaviour(fd, head);
      shutdown(fd, SHUT_RDWR);
    });
  }
}

std::string TRawServer::ReadHead(int Fd) {
  std::string head;
  char c;
  while (head.size() < 65536) {
    pollfd p{Fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return {};
    if (recv(Fd, &c, 1, 0) != 1) return {};
    head += c;
    if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) return head;
  }
  return {};
}

bool TRawServer::SendAll(int Fd, const std::string& Data) {
  size_t sent = 0;
  while (sent < Data.size()) {
    ssize_t n = send(Fd, Data.data() + sent, Data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += size_t(n);
  }
  return true;
}

// ---------------------------------------------------------------- proxy

TLocalProxy::TLocalProxy(std::string RequiredAuth) : FRequiredAuth(std::move(RequiredAuth)) {
  FServer = std::make_unique<TRawServer>([this](int Fd, const std::string& Head) { Handle(Fd, Head); });
}

void TLocalProxy::Handle(int Fd, const std::string& Head) {
  // 'GET http://127.0.0.1:PORT/path HTTP/1.1'
  size_t sp1 = Head.find(' ');
  size_t sp2 = Head.find(' ', sp1 + 1);
  std::string target = Head.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string prefix = "http://127.0.0.1:";
  if (target.compare(0, prefix.size(), prefix) != 0) {
    TRawServer::SendAll(Fd, "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    return;
  }
  if (!FRequiredAuth.empty() &&
      Head.find("\r\nProxy-Authorization: " + FRequiredAuth + "\r\n") == std::string::npos) {
    ++FChallenged;
    TRawServer::SendAll(Fd,
                        "HTTP/1.1 407 Proxy Authentication Required\r\n"
                        "Proxy-Authenticate: Basic realm=\"proxy\"\r\n"
                        "Content-Length: 0\r\nConnection: close\r\n\r\n");
    return;
  }
  size_t slash = target.find('/', prefix.size());
  int port = std::atoi(target.substr(prefix.size(), slash - prefix.size()).c_str());
  std::string path = slash == std::string::npos ? "/" : target.substr(slash);
  // Relay with the path form and a closing connection, then copy the answer back.
  std::string rest = Head.substr(Head.find("\r\n") + 2);
  std::string out = Head.substr(0, sp1) + " " + path + " HTTP/1.1\r\nConnection: close\r\n";
  size_t p = 0;
  while (p < rest.size()) {
    size_t e = rest.find("\r\n", p);
    std::string line = rest.substr(p, e - p);
    p = e + 2;
    if (line.empty()) break;
    if (line.rfind("Proxy-", 0) == 0 || line.rfind("Connection", 0) == 0) continue;
    out += line + "\r\n";
  }
  out += "Via: tanvork-test-proxy\r\n\r\n";
  int up = ConnectLocal(port);
  if (up < 0) return;
  ++FRelayed;
  TRawServer::SendAll(up, out);
  char buf[8192];
  while (true) {
    pollfd pf{up, POLLIN, 0};
    if (poll(&pf, 1, 5000) <= 0) break;
    ssize_t n = recv(up, buf, sizeof(buf), 0);
    if (n <= 0 || !TRawServer::SendAll(Fd, std::string(buf, size_t(n)))) break;
  }
  close(up);
}

// ---------------------------------------------------------------- black hole

TBlackholePort::TBlackholePort() {
  FListen = ListenLocal(0, FPort);
  // Fill the accept queue; later SYNs are dropped and connects hang.
  for (int i = 0; i < 4; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(FPort));
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    FFillers.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TBlackholePort::~TBlackholePort() {
  for (int fd : FFillers) close(fd);
  close(FListen);
}

// ---------------------------------------------------------------- helpers

TTestCertificate::TTestCertificate() {
  char tmpl[] = "/tmp/tanvork-http-XXXXXX";
  if (!mkdtemp(tmpl)) return;
  Dir = tmpl;
  Cert = Dir + "/cert.pem";
  Key = Dir + "/key.pem";
  std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
                    Key + " -out " + Cert + " >/dev/null 2>&1";
  Ok = std::system(cmd.c_str()) == 0 && std::filesystem::exists(Cert);
}

TTestCertificate::~TTestCertificate() {
  if (!Dir.empty()) std::filesystem::remove_all(Dir);
}

std::string GzipBytes(const std::string& Data) {
  z_stream zs{};
  deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, uLong(Data.size())) + 32, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  zs.avail_in = uInt(Data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = uInt(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

void ClearProxyEnvironment() {
  for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                        "ALL_PROXY", "no_proxy", "NO_PROXY"})
    unsetenv(v);
}
