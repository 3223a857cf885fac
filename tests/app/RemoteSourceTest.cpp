// Book-source files from addresses: encodings, gzip, statuses, redirects, the
// size ceiling, the User-Agent rule, certificates, and source lists.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "AppTestUtil.h"
#include "FakeMainWindow.h"
#include "HttpTestServers.h"
#include "app/uMainLogic.h"
#include "app/uRemoteSource.h"
#include "app/uSourceRequest.h"
#include "json/KivJson.h"
#include "support/KivStr.h"

namespace {

// "书源甲" in GBK, no byte-order mark.
const std::string kGbkName = "\xCA\xE9\xD4\xB4\xBC\xD7";

class RemoteSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    auto& s = server.Server();
    s.Get("/utf8.json", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("[" + Src("书源甲", "https://a.example/") + "," + Src("书源乙", "https://b.example/") + "]",
                      "application/json; charset=utf-8");
    });
    s.Get("/gbk.json", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("[{\"bookSourceName\":\"" + kGbkName + "\",\"bookSourceUrl\":\"https://g.example/\"}]",
                      "application/json");
    });
    s.Get("/gzip.json", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Encoding", "gzip");
      // A type the server would not compress again on its own.
      res.set_content(GzipBytes("[" + Src("压缩", "https://z.example/") + "]"), "application/octet-stream");
    });
    s.Get("/missing.json", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not found", "text/plain");
    });
    s.Get("/moved.json", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/utf8.json"); });
    s.Get("/endless.json", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/json", [](size_t, httplib::DataSink& sink) {
        static const std::string block(64 * 1024, ' ');
        return sink.write(block.data(), block.size());
      });
    });
    s.Get("/ua.json", [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard<std::mutex> lock(seenLock);
        seenUserAgent = req.has_header("User-Agent") ? req.get_header_value("User-Agent") : "<none>";
        seenTarget = req.target;
      }
      res.set_content("[" + Src("ua", "https://ua.example/") + "]", "application/json");
    });
    s.Get("/list.json", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content("{\"sourceUrls\": [\"" + server.Url("/utf8.json") + "\", \"" + server.Url("/missing.json") +
                          "\", \"" + server.Url("/gzip.json") + "\"]}",
                      "application/json");
    });
    s.Get("/nested.json", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content("{\"sourceUrls\": [\"" + server.Url("/list.json") + "\"]}", "application/json");
    });
    server.Start();
  }

  String U(const std::string& APath) { return FromUtf8(server.Url(APath)); }

  TLocalHttpServer server;
  std::mutex seenLock;
  std::string seenUserAgent, seenTarget;
};

std::vector<String> NamesOf(const std::vector<TLoadedPart>& AParts) {
  std::vector<String> names;
  for (const TLoadedPart& part : AParts)
    if (part.Sources)
      for (int i = 0; i < part.Sources->Count(); ++i)
        names.push_back(part.Sources->GetJsonObject(i)->GetString(u"bookSourceName"));
  return names;
}

TEST_F(RemoteSourceTest, BodiesInEveryFormLoadLikeFiles) {
  struct Case {
    const char* Path;
    std::vector<String> Names;
  };
  const Case cases[] = {
      {"/utf8.json", {u"书源甲", u"书源乙"}},
      {"/gbk.json", {u"书源甲"}},
      {"/gzip.json", {u"压缩"}},
      {"/moved.json", {u"书源甲", u"书源乙"}},  // the redirect is followed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Path);
    const std::vector<TLoadedPart> parts = LoadSourcesFrom(U(c.Path), TRemoteOptions());
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].Name, U(c.Path));
    EXPECT_EQ(NamesOf(parts), c.Names);
  }
}

TEST_F(RemoteSourceTest, FailuresNameTheAddressAndTheCause) {
  struct Case {
    std::string Address;
    TRemoteOptions Options;
    std::vector<String> Parts;  // what the message must hold besides the address
  };
  TRemoteOptions small;
  small.MaxBytes = 1024 * 1024;
  const Case cases[] = {
      {server.Url("/missing.json"), {}, {u"404"}},
      {server.Url("/endless.json"), small, {u"1 MB", u"上限"}},
      {"http://127.0.0.1:1/none.json", {}, {u"无法下载"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Address);
    try {
      FetchRemote(FromUtf8(c.Address), c.Options);
      ADD_FAILURE() << "no error";
    } catch (const Exception& E) {
      EXPECT_NE(E.Message().find(FromUtf8(c.Address)), String::npos) << ToUtf8(E.Message());
      for (const String& part : c.Parts) EXPECT_NE(E.Message().find(part), String::npos) << ToUtf8(E.Message());
    }
  }
  EXPECT_EQ(kRemoteMaxBytes, 256LL * 1024 * 1024);
}

TEST_F(RemoteSourceTest, UserAgentIsTheReaderAppsUnlessTheAddressAsksForNone) {
  FetchRemote(U("/ua.json"), TRemoteOptions());
  {
    std::lock_guard<std::mutex> lock(seenLock);
    EXPECT_EQ(seenUserAgent, ToUtf8(kDefaultUserAgent));
    EXPECT_EQ(seenTarget, "/ua.json");
  }
  const std::vector<TLoadedPart> parts = LoadSourcesFrom(U("/ua.json") + u"#requestWithoutUA", TRemoteOptions());
  EXPECT_EQ(NamesOf(parts), std::vector<String>{u"ua"});
  std::lock_guard<std::mutex> lock(seenLock);
  EXPECT_EQ(seenUserAgent, "<none>");
  // The marker is no part of the request.
  EXPECT_EQ(seenTarget, "/ua.json");
}

TEST_F(RemoteSourceTest, CertificateIsVerifiedUnlessTheUserTakesAny) {
  TTestCertificate cert;
  if (!cert.Ok) GTEST_SKIP() << "the openssl command could not make a certificate";
  TLocalHttpServer tls(cert.Cert, cert.Key);
  tls.Server().Get("/list.json", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("[" + Src("tls", "https://t.example/") + "]", "application/json");
  });
  tls.Start();
  const String address = FromUtf8(tls.Url("/list.json"));
  try {
    FetchRemote(address, TRemoteOptions());
    ADD_FAILURE() << "a self-signed certificate was taken";
  } catch (const Exception& E) {
    EXPECT_NE(E.Message().find(address), String::npos) << ToUtf8(E.Message());
    EXPECT_NE(E.Message().find(u"证书"), String::npos) << ToUtf8(E.Message());
  }
  TRemoteOptions any;
  any.AcceptAnyCertificate = true;
  EXPECT_EQ(NamesOf(LoadSourcesFrom(address, any)), std::vector<String>{u"tls"});
}

TEST_F(RemoteSourceTest, SourceListLoadsEachAddressAndNamesTheOneThatFailed) {
  const std::vector<TLoadedPart> parts = LoadSourcesFrom(U("/list.json"), TRemoteOptions());
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[1].Name, U("/missing.json"));
  EXPECT_EQ(parts[1].Sources, nullptr);
  EXPECT_NE(parts[1].Error.find(U("/missing.json")), String::npos);
  EXPECT_EQ(NamesOf(parts), (std::vector<String>{u"书源甲", u"书源乙", u"压缩"}));

  // Through the logic: the good ones merged in order, one error naming the failed address.
  FakeMainWindow window;
  TMainLogic logic(window);
  window.Logic = &logic;
  EXPECT_FALSE(logic.RunCommand([&] { logic.AddSrcAddress(U("/list.json"), false); }));
  ASSERT_EQ(window.Errors.size(), 1u);
  EXPECT_NE(window.Errors[0].find(U("/missing.json")), String::npos);
  EXPECT_EQ(window.Errors[0].find(U("/utf8.json")), String::npos);
  EXPECT_EQ(logic.Sources().Count(), 3);
}

TEST_F(RemoteSourceTest, ListsInFilesAndWhatAListMayNotHold) {
  TempDir dir;
  struct Case {
    std::string Body;
    std::vector<String> Names;
    size_t Failed;  // parts without sources
  };
  const Case cases[] = {
      {"{\"sourceUrls\": [\"" + server.Url("/gzip.json") + "\"]}", {u"压缩"}, 0},
      {"{\"sourceUrls\": []}", {}, 0},
      // A shared list must not read this machine's files.
      {"{\"sourceUrls\": [\"/etc/passwd\", \"" + server.Url("/gbk.json") + "\"]}", {u"书源甲"}, 1},
      // No deeper nesting.
      {"{\"sourceUrls\": [\"" + server.Url("/nested.json") + "\"]}", {}, 1},
      {"{\"sourceUrls\": [42]}", {}, 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Body);
    const String file = dir.Write("list" + std::to_string(++n) + ".json", c.Body);
    const std::vector<TLoadedPart> parts = LoadSourcesFrom(file, TRemoteOptions());
    EXPECT_EQ(NamesOf(parts), c.Names);
    size_t failed = 0;
    for (const TLoadedPart& part : parts) failed += part.Sources ? 0 : 1;
    EXPECT_EQ(failed, c.Failed);
  }
  // An object that is neither a source nor a list is still no source file.
  EXPECT_THROW(LoadSourcesFrom(dir.Write("other.json", "{\"name\": 1}"), TRemoteOptions()), Exception);
}

// A list or an address is no file of the collection: exporting must not overwrite it.
TEST_F(RemoteSourceTest, ListsAndAddressesAreNotTheCollectionsFile) {
  TempDir dir;
  FakeMainWindow window;
  TMainLogic logic(window);
  window.Logic = &logic;
  const String list = dir.Write("list.json", "{\"sourceUrls\": [\"" + server.Url("/utf8.json") + "\"]}");
  logic.AddSrcFile(list);
  EXPECT_EQ(logic.Sources().Count(), 2);
  EXPECT_NE(logic.FileName(), list);
  const String plain = dir.Write("plain.json", "[" + Src("p", "https://p.example/") + "]");
  TMainLogic other(window);
  other.AddSrcFile(plain);
  EXPECT_EQ(other.FileName(), plain);
  TMainLogic remote(window);
  remote.AddSrcFile(U("/utf8.json"));
  EXPECT_EQ(remote.Sources().Count(), 2);
  EXPECT_TRUE(remote.FileName().empty()) << ToUtf8(remote.FileName());
}

}  // namespace
