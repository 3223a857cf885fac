// Local servers for the client tests: all on 127.0.0.1 with ephemeral ports,
// started and stopped by the fixtures.
#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// cpp-httplib server (plain or TLS) run on its own thread.
class TLocalHttpServer {
 public:
  // TLS when cert and key files are given.
  TLocalHttpServer(const std::string& CertFile = {}, const std::string& KeyFile = {});
  ~TLocalHttpServer();
  httplib::Server& Server() { return *FServer; }
  // Binds and starts serving; returns the port.
  int Start();
  int Port() const { return FPort; }
  std::string Url(const std::string& Path) const;

 private:
  std::unique_ptr<httplib::Server> FServer;
  std::thread FThread;
  int FPort = 0;
  bool FTls = false;
};

// A socket server that runs a behaviour for every connection it accepts.
class TRawServer {
 public:
  using TBehaviour = std::function<void(int Fd, const std::string& RequestHead)>;
  explicit TRawServer(TBehaviour Behaviour);
  ~TRawServer();
  int Port() const { return FPort; }
  std::string Url(const std::string& Path) const;
  int Accepted() const { return FAccepted; }

  // Reads a request head (up to the blank line); empty when the peer closed.
  static std::string ReadHead(int Fd);
  static bool SendAll(int Fd, const std::string& Data);

 private:
  void Run();
  TBehaviour FBehaviour;
  int FListen = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FAccepted{0};
  std::thread FThread;
  std::mutex FLock;
  std::vector<std::thread> FWorkers;
  std::vector<int> FConnections;  // shut down at the end, so that endless behaviours stop
};

// A forward proxy for plain http: absolute-URI requests relayed to 127.0.0.1 only.
class TLocalProxy {
 public:
  // RequiredAuth: the expected 'Proxy-Authorization' value, empty for none.
  explicit TLocalProxy(std::string RequiredAuth = {});
  int Port() const { return FServer->Port(); }
  int Relayed() const { return FRelayed; }
  int Challenged() const { return FChallenged; }

 private:
  void Handle(int Fd, const std::string& Head);
  std::string FRequiredAuth;
  std::atomic<int> FRelayed{0};
  std::atomic<int> FChallenged{0};
  std::unique_ptr<TRawServer> FServer;
};

// A listening socket whose backlog is full, so that connects hang until time-out.
class TBlackholePort {
 public:
  TBlackholePort();
  ~TBlackholePort();
  int Port() const { return FPort; }

 private:
  int FListen = -1;
  int FPort = 0;
  std::vector<int> FFillers;
};

// Self-signed certificate and key for 127.0.0.1 in a fresh temp folder.
struct TTestCertificate {
  std::string Dir, Cert, Key;
  bool Ok = false;
  TTestCertificate();
  ~TTestCertificate();
};

// gzip bytes of Data (one member).
std::string GzipBytes(const std::string& Data);
// Clears every proxy variable, so that no test leaves 127.0.0.1 by accident.
void ClearProxyEnvironment();
