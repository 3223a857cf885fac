// The desktop's address import and run history: the input box, the run
// panel's controls, and the session's views of what a check changed.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "HttpTestServers.h"
#include "UiTestSuites.h"
#include "app/uMainLogic.h"
#include "json/KivJson.h"
#include "ui/uFrmRemote.h"
#include "ui/uFrmWait.h"

struct TRemoteHistoryTest::TServers {
  TLocalHttpServer Http;
  std::mutex Lock;
  std::set<std::string> Down;
  // /held.json answers once the gate is open (or after 20 s, so no server
  // thread hangs on when a test fails).
  std::condition_variable Gate;
  bool Open = false;
  int Held = 0;
};

void TRemoteHistoryTest::initTestCase() {
  ClearProxyEnvironment();
  FServers = new TServers;
  auto& s = FServers->Http.Server();
  TServers* servers = FServers;
  s.Get(R"(/site/(\w+))", [servers](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(servers->Lock);
    res.status = servers->Down.count(req.matches[1].str()) ? 500 : 200;
  });
  s.Get("/list.json", [servers](const httplib::Request&, httplib::Response& res) {
    std::string body = "[";
    for (const char* name : {"fall", "rise", "same"})
      body += std::string(body.size() > 1 ? "," : "") + "{\"bookSourceName\":\"" + name +
              "\",\"bookSourceGroup\":\"g\",\"bookSourceUrl\":\"" + servers->Http.Url(std::string("/site/") + name) +
              "\",\"ruleSearch\":{\"bookList\":\"x\"}}";
    res.set_content(body + "]", "application/json");
  });
  s.Get("/gone.json", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
  s.Get("/held.json", [servers](const httplib::Request&, httplib::Response& res) {
    {
      std::unique_lock<std::mutex> lock(servers->Lock);
      ++servers->Held;
      servers->Gate.wait_for(lock, std::chrono::seconds(20), [servers] { return servers->Open; });
      --servers->Held;
    }
    res.set_content("[{\"bookSourceName\":\"late\",\"bookSourceUrl\":\"https://late.example/\"}]",
                    "application/json");
  });
  s.Get("/half.json", [servers](const httplib::Request&, httplib::Response& res) {
    res.set_content("{\"sourceUrls\": [\"" + servers->Http.Url("/held.json") + "\", \"" +
                        servers->Http.Url("/gone.json") + "\"]}",
                    "application/json");
  });
  FServers->Http.Start();
}

void TRemoteHistoryTest::cleanupTestCase() {
  OpenGate();
  delete FServers;
}

void TRemoteHistoryTest::OpenGate() {
  std::lock_guard<std::mutex> lock(FServers->Lock);
  FServers->Open = true;
  FServers->Gate.notify_all();
}

namespace {

QString Url(TLocalHttpServer& AServer, const std::string& APath) {
  return QString::fromStdString(AServer.Url(APath));
}

// The 文件 menu's item, by its name.
QAction* ImportItem(TForm1& W) { return W.findChild<QAction*>("U2"); }

}  // namespace

void TRemoteHistoryTest::RunCheck() {
  W->CheckBox1->setChecked(false);
  W->CheckBox2->setChecked(true);
  QTimer guard;
  guard.setSingleShot(true);
  connect(&guard, &QTimer::timeout, this, [] {
    if (TForm2::Current()) TForm2::Current()->Button1Click();
  });
  guard.start(30000);
  QTest::mouseClick(W->Button1, Qt::LeftButton);
  QVERIFY(guard.isActive());
}

void TRemoteHistoryTest::controlsAreThereAndOffByDefault() {
  QAction* import = ImportItem(*W);
  QVERIFY(import);
  QCOMPARE(import->text(), QStringLiteral("从网址导入(&U)..."));
  auto* history = W->findChild<QPushButton*>("btnHistory");
  auto* respond = W->findChild<QCheckBox*>("chkRespondTime");
  QVERIFY(history && respond);
  QCOMPARE(history->text(), QStringLiteral("历史记录..."));
  QVERIFY(!history->isChecked());
  QVERIFY(!respond->isChecked());
  QVERIFY(W->Logic().HistoryFile().empty());
  QVERIFY(!W->Logic().WriteRespondTime());
  // Cancelling the file choice leaves the session without a history.
  QTest::mouseClick(history, Qt::LeftButton);
  QVERIFY(!history->isChecked());
  QVERIFY(W->Logic().HistoryFile().empty());
}

void TRemoteHistoryTest::importThroughTheAddressBox() {
  const QString good = Url(FServers->Http, "/list.json"), bad = Url(FServers->Http, "/gone.json");
  bool okEnabledEmpty = true, any = true;
  WhenModal<TfrmRemoteImport>([&](TfrmRemoteImport* D) {
    auto* ok = D->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok);
    okEnabledEmpty = ok->isEnabled();
    any = D->chkAnyCertificate->isChecked();
    QTest::keyClicks(D->edtAddress, good);
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  ImportItem(*W)->trigger();
  QVERIFY(!okEnabledEmpty);
  QVERIFY(!any);
  QCOMPARE(Rows(), 3);
  QCOMPARE(RowText(0), QStringLiteral("【g】fall"));
  QVERIFY(Prompts.Errors().isEmpty());
  // A failing address: the error box names it, nothing is merged.
  WhenModal<TfrmRemoteImport>([&](TfrmRemoteImport* D) {
    D->edtAddress->setText(bad);
    D->accept();
  });
  ImportItem(*W)->trigger();
  QCOMPARE(Rows(), 3);
  QCOMPARE(Prompts.Errors().size(), 1);
  QVERIFY2(Prompts.Errors().front().contains(bad), qPrintable(Prompts.Errors().front()));
  QVERIFY(Prompts.Errors().front().contains(QStringLiteral("404")));
}

void TRemoteHistoryTest::changesOfTheLastCheckAreFilterViews() {
  {
    std::lock_guard<std::mutex> lock(FServers->Lock);
    FServers->Down = {"rise", "same"};
  }
  const QString history = FDir.filePath(QStringLiteral("history.db"));
  Prompts.Files.push_back(history);
  auto* button = W->findChild<QPushButton*>("btnHistory");
  QTest::mouseClick(button, Qt::LeftButton);
  QVERIFY(button->isChecked());
  QCOMPARE(QString::fromStdU16String(W->Logic().HistoryFile()), history);
  WhenModal<TfrmRemoteImport>([&](TfrmRemoteImport* D) {
    D->edtAddress->setText(Url(FServers->Http, "/list.json"));
    D->accept();
  });
  ImportItem(*W)->trigger();
  QCOMPARE(Rows(), 3);
  RunCheck();
  QVERIFY2(LogText().contains(QStringLiteral("与上次相比: 新失效 0, 已恢复 0, 仍失效 0, 新增 3, 消失 0")),
           qPrintable(LogText()));
  {
    std::lock_guard<std::mutex> lock(FServers->Lock);
    FServers->Down = {"fall", "same"};
  }
  // Marks of the first check stay out of the second's way.
  RunCheck();
  QVERIFY2(LogText().contains(QStringLiteral("与上次相比: 新失效 1, 已恢复 1, 仍失效 1, 新增 0, 消失 0")),
           qPrintable(LogText()));
  // The two views are offered in the filter box and show those sources.
  QVERIFY(W->bookGroupList->findText(QStringLiteral("新失效")) >= 0);
  QVERIFY(W->bookGroupList->findText(QStringLiteral("已恢复")) >= 0);
  struct Case {
    QString Filter;
    QStringList Rows;
  };
  const Case cases[] = {
      {QStringLiteral("新失效"), {QStringLiteral("fall")}},
      {QStringLiteral("已恢复"), {QStringLiteral("rise")}},
      {QStringLiteral("失效"), {QStringLiteral("fall"), QStringLiteral("same")}},
  };
  for (const Case& c : cases) {
    W->bookGroupList->setEditText(c.Filter);
    QStringList rows;
    for (int i = 0; i < Rows(); ++i) rows << RowText(i).section(QStringLiteral("】"), -1);
    QCOMPARE(rows, c.Rows);
  }
  // A view, not a group: no source carries it.
  W->bookGroupList->setEditText(QString());
  for (int i = 0; i < Rows(); ++i) {
    const String json = SourceJson(i);
    QVERIFY(json.find(u"新失效") == String::npos && json.find(u"已恢复") == String::npos);
  }
}

void TRemoteHistoryTest::respondTimeOnlyWhenAsked() {
  {
    std::lock_guard<std::mutex> lock(FServers->Lock);
    FServers->Down = {"same"};
  }
  WhenModal<TfrmRemoteImport>([&](TfrmRemoteImport* D) {
    D->edtAddress->setText(Url(FServers->Http, "/list.json"));
    D->accept();
  });
  ImportItem(*W)->trigger();
  QCOMPARE(Rows(), 3);
  RunCheck();
  for (int i = 0; i < Rows(); ++i) QVERIFY(SourceJson(i).find(u"respondTime") == String::npos);
  W->findChild<QCheckBox*>("chkRespondTime")->setChecked(true);
  QVERIFY(W->Logic().WriteRespondTime());
  RunCheck();
  for (int i = 0; i < Rows(); ++i) {
    JSONObject source;
    source.Parse(SourceJson(i), false);
    QVERIFY2(source.Contains(u"respondTime"), qPrintable(QString::fromStdU16String(SourceJson(i))));
    // The dead one: the check's time-out and then some.
    if (source.GetString(u"bookSourceName") == u"same") QVERIFY(source.GetInt64(u"respondTime") >= 1000);
  }
}

// The window's loop runs while the server holds its answer; the wait dialog
// names the address; the sources and the error box come afterwards.
void TRemoteHistoryTest::importRunsInTheBackground() {
  {
    std::lock_guard<std::mutex> lock(FServers->Lock);
    FServers->Open = false;
  }
  const QString list = Url(FServers->Http, "/half.json");
  WhenModal<TfrmRemoteImport>([&](TfrmRemoteImport* D) {
    D->edtAddress->setText(list);
    D->accept();
  });
  int ticks = 0, rowsWhileWaiting = -1;
  QString caption;
  QTimer ticker;
  ticker.setInterval(10);
  connect(&ticker, &QTimer::timeout, this, [&] {
    TForm2* wait = TForm2::Current();
    if (!wait) return;
    {
      std::lock_guard<std::mutex> lock(FServers->Lock);
      if (FServers->Held == 0 || FServers->Open) return;
    }
    caption = wait->Label1->text() + '|' + wait->Label1->toolTip();
    rowsWhileWaiting = Rows();
    if (++ticks == 10) OpenGate();
  });
  ticker.start();
  ImportItem(*W)->trigger();
  ticker.stop();
  QCOMPARE(ticks, 10);
  QCOMPARE(rowsWhileWaiting, 0);
  QVERIFY2(caption.contains(QStringLiteral("正在下载")), qPrintable(caption));
  QVERIFY2(caption.contains(Url(FServers->Http, "/held.json")), qPrintable(caption));
  QVERIFY(!TForm2::Current());
  QCOMPARE(Rows(), 1);
  QCOMPARE(RowText(0), QStringLiteral("【】late"));
  QCOMPARE(Prompts.Errors().size(), 1);
  const QString gone = Url(FServers->Http, "/gone.json");
  QVERIFY2(Prompts.Errors().front().contains(gone), qPrintable(Prompts.Errors().front()));
}

// Stop in the wait dialog: back at once, the server still holding its
// answer, and nothing is merged when it comes.
void TRemoteHistoryTest::importCancelledFromTheWaitDialog() {
  {
    std::lock_guard<std::mutex> lock(FServers->Lock);
    FServers->Open = false;
  }
  WhenModal<TfrmRemoteImport>([&](TfrmRemoteImport* D) {
    D->edtAddress->setText(Url(FServers->Http, "/held.json"));
    D->accept();
  });
  bool clicked = false;
  QTimer ticker;
  ticker.setInterval(10);
  connect(&ticker, &QTimer::timeout, this, [&] {
    TForm2* wait = TForm2::Current();
    if (!wait || clicked) return;
    {
      std::lock_guard<std::mutex> lock(FServers->Lock);
      if (FServers->Held == 0) return;
    }
    clicked = true;
    QTest::mouseClick(wait->Button1, Qt::LeftButton);
  });
  ticker.start();
  ImportItem(*W)->trigger();
  ticker.stop();
  QVERIFY(clicked);
  QVERIFY(!TForm2::Current());
  {
    std::lock_guard<std::mutex> lock(FServers->Lock);
    QVERIFY(!FServers->Open);
    QCOMPARE(FServers->Held, 1);
  }
  QVERIFY(!W->Logic().ImportRunning());
  OpenGate();
  QTRY_COMPARE_WITH_TIMEOUT(
      [&] {
        std::lock_guard<std::mutex> lock(FServers->Lock);
        return FServers->Held;
      }(),
      0, 10000);
  QTest::qWait(300);
  QCOMPARE(Rows(), 0);
  QVERIFY(Prompts.Errors().isEmpty());
  QVERIFY2(LogText().contains(QStringLiteral("已取消从网址导入")), qPrintable(LogText()));
}
