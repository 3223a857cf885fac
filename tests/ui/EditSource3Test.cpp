// The form dialog on sources of the current format: its pages, what OK writes
// (only what changed, in the form each member had), the header check, the
// format question of a new source and the test button.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTest>

#include <memory>

#include "HttpTestServers.h"
#include "UiTestSuites.h"
#include "app/uBookSource3.h"
#include "json/KivJson.h"
#include "ui/uFrmEditSource.h"

struct TEditSource3Test::TServers {
  TLocalHttpServer Http;
};

void TEditSource3Test::initTestCase() {
  ClearProxyEnvironment();
  FServers = new TServers;
  auto& s = FServers->Http.Server();
  s.Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  FServers->Http.Start();
}

void TEditSource3Test::cleanupTestCase() { delete FServers; }

namespace {

QByteArray Exported(TForm1& W, const QTemporaryDir& ADir) {
  const QString path = ADir.filePath("probe.json");
  W.Logic().Sources().Export(path.toStdU16String());
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QPlainTextEdit* MemoOf(TfrmEditSource* D, const QString& AKey) {
  return qobject_cast<QPlainTextEdit*>(D->InputOf(AKey));
}

QLineEdit* LineOf(TfrmEditSource* D, const QString& AKey) { return qobject_cast<QLineEdit*>(D->InputOf(AKey)); }

// A member's value as JSON text ("" when absent).
String MemberJson(const JSONObject* AObject, StringView AKey) {
  PJSONValue v = AObject->GetItem(AKey);
  if (!v) return String();
  JSONObject one;
  one.Parse(AObject->ToString(), false);
  for (int i = one.Count() - 1; i >= 0; --i)
    if (one.GetItems(i)->Name() != AKey) one.Remove(i);
  return one.ToString();
}

std::vector<String> MemberNames(const JSONObject* AObject) {
  std::vector<String> names;
  for (int i = 0; i < AObject->Count(); ++i) names.emplace_back(AObject->GetItems(i)->Name());
  return names;
}

// A rule as an object, whether stored as one or as text holding one.
String RuleObjectJson(const JSONObject* ASource, StringView ARule) {
  PJSONValue v = ASource->GetItem(ARule);
  if (!v) return String();
  JSONObject rule;
  rule.Parse(v->Type() == jdtString ? v->AsString() : v->GetObject()->ToString(), false);
  return rule.ToString();
}

String Canonical(const char* AJson) {
  JSONObject o;
  o.Parse(QString::fromUtf8(AJson).toStdU16String(), false);
  return o.ToString();
}

const char kRules[] = R"([{
  "bookSourceName": "规则",
  "bookSourceUrl": "http://r/",
  "ruleSearch": {"bookList": "class.list", "name": "tag.a@text", "author": "tag.b@text"},
  "ruleToc": "{\"chapterList\": \"id.list@li\", \"chapterName\": \"text\"}",
  "ruleBookInfo": null,
  "ruleExplore": "not an object",
  "ruleContent": {"content": "id.c@html", "replaceRegex": "##\u00a0\r\n##x"},
  "custom": [1, {"k": "v"}],
  "weight": 0
}])";

}  // namespace

// ---------------------------------------------------------------- pages and an untouched OK

void TEditSource3Test::untouchedFormWritesNoByte() {
  AddFile(QStringLiteral(TANVORK_TEST_DATA "/real/choue_bookSource_3.0.json"));
  QVERIFY(Rows() > 80);
  const QByteArray before = Exported(*W, FDir);
  JSONObject* first = W->Logic().SourceOfRow(0);
  TfrmEditSource* D = W->EditSource(first, false);
  QVERIFY(D->Format3());
  QVERIFY(D->PageControl1 && !D->ScrollBox1);
  QVERIFY(D->isVisible());
  QVERIFY(!D->lblMixed->isVisibleTo(D));
  // The basic page, the addresses and one page per rule object.
  QCOMPARE(D->PageControl1->count(), 2 + int(RuleObjects().size()));
  size_t ruleInputs = 0;
  for (const TRuleObject& rule : RuleObjects()) {
    ruleInputs += rule.Members.size();
    for (const char16_t* member : rule.Members)
      QVERIFY2(MemoOf(D, QString::fromStdU16String(rule.Name) + '.' + QString::fromStdU16String(member)),
               "a memo for every rule member");
  }
  QCOMPARE(D->Inputs().size(), size_t(13 + 2) + ruleInputs);
  // The values as the source has them.
  const TBookSource3 source(first);
  QCOMPARE(D->findChild<QLineEdit*>("Edit1")->text(), QString::fromStdU16String(source.Text(u"bookSourceName")));
  QCOMPARE(D->findChild<QComboBox*>("ComboBox1")->currentText(),
           QString::fromStdU16String(source.Text(u"bookSourceGroup")));
  QCOMPARE(MemoOf(D, "searchUrl")->toPlainText(), QString::fromStdU16String(source.Text(u"searchUrl")));
  QCOMPARE(MemoOf(D, "header")->toPlainText(), QString::fromStdU16String(source.Text(u"header")));
  QCOMPARE(MemoOf(D, "ruleSearch.bookList")->toPlainText(),
           QString::fromStdU16String(source.RuleMember(u"ruleSearch", u"bookList")));
  QCOMPARE(MemoOf(D, "ruleContent.content")->toPlainText(),
           QString::fromStdU16String(source.RuleMember(u"ruleContent", u"content")));
  QCOMPARE(LineOf(D, "customOrder")->text(), QString::number(first->GetInt64(u"customOrder")));
  QCOMPARE(D->CheckBox1->isChecked(), first->GetBoolean(u"enabled"));
  QCOMPARE(D->EnableKey(), QStringLiteral("enabled"));
  // The flat form's serial number has no place here.
  QVERIFY(!D->Edit28->isVisibleTo(D));
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QTRY_VERIFY(W->EditorDialogs().empty());
  QVERIFY(Prompts.Errors().isEmpty());

  // Every other source of the file too.
  for (int row = 1; row < Rows(); ++row) {
    D = W->EditSource(W->Logic().SourceOfRow(row), false);
    QVERIFY(D->Format3());
    QTest::mouseClick(D->Button1, Qt::LeftButton);
  }
  QTRY_VERIFY(W->EditorDialogs().empty());
  QVERIFY(Prompts.Errors().isEmpty());
  QCOMPARE(Exported(*W, FDir), before);
}

// ---------------------------------------------------------------- rule members

void TEditSource3Test::ruleMemberKeepsTheRulesForm_data() {
  QTest::addColumn<QString>("key");
  QTest::addColumn<QString>("typed");  // replaces the text; "+x" types x at the end
  QTest::addColumn<QString>("rule");
  QTest::addColumn<QString>("expected");
  QTest::addColumn<bool>("asText");
  QTest::newRow("object, member changed")
      << "ruleSearch.name" << "tag.h@text" << "ruleSearch"
      << R"({"bookList": "class.list", "name": "tag.h@text", "author": "tag.b@text"})" << false;
  QTest::newRow("object, member cleared") << "ruleSearch.author" << "" << "ruleSearch"
                                          << R"({"bookList": "class.list", "name": "tag.a@text"})" << false;
  QTest::newRow("object, member added")
      << "ruleSearch.kind" << "tag.k@text" << "ruleSearch"
      << R"({"bookList": "class.list", "name": "tag.a@text", "author": "tag.b@text", "kind": "tag.k@text"})" << false;
  QTest::newRow("text, member changed") << "ruleToc.chapterName" << "a@text" << "ruleToc"
                                        << R"({"chapterList": "id.list@li", "chapterName": "a@text"})" << true;
  QTest::newRow("text, member added")
      << "ruleToc.chapterUrl" << "a@href" << "ruleToc"
      << R"({"chapterList": "id.list@li", "chapterName": "text", "chapterUrl": "a@href"})" << true;
  QTest::newRow("absent rule becomes an object") << "ruleReview.reviewUrl" << "/r" << "ruleReview"
                                                 << R"({"reviewUrl": "/r"})" << false;
  QTest::newRow("null rule becomes an object in its place") << "ruleBookInfo.name" << "h1@text" << "ruleBookInfo"
                                                            << R"({"name": "h1@text"})" << false;
  QTest::newRow("line ends and no-break spaces kept")
      << "ruleContent.replaceRegex" << "+y" << "ruleContent"
      << "{\"content\": \"id.c@html\", \"replaceRegex\": \"##\u00a0\\r\\n##xy\"}" << false;
}

void TEditSource3Test::ruleMemberKeepsTheRulesForm() {
  QFETCH(QString, key);
  QFETCH(QString, typed);
  QFETCH(QString, rule);
  QFETCH(QString, expected);
  QFETCH(bool, asText);
  AddFile(Fixture("rules.json", kRules));
  JSONObject* source = W->Logic().SourceOfRow(0);
  const std::unique_ptr<JSONObject> before(JSONObject::ParseObject(source->ToString(), true));
  TfrmEditSource* D = W->EditSource(source, false);
  QVERIFY(D->Format3());
  // The rule stored as text is read as the object it holds.
  QCOMPARE(MemoOf(D, "ruleToc.chapterList")->toPlainText(), QStringLiteral("id.list@li"));
  // A rule the form cannot read is shown as such and cannot be typed into.
  QVERIFY(!D->findChild<QLabel*>("Note_ruleExplore")->isHidden());
  QVERIFY(!MemoOf(D, "ruleExplore.name")->isEnabled());
  QVERIFY(D->findChild<QLabel*>("Note_ruleSearch")->isHidden());

  QPlainTextEdit* memo = MemoOf(D, key);
  QVERIFY(memo && memo->isEnabled());
  if (typed.startsWith('+')) {
    memo->setFocus();
    memo->moveCursor(QTextCursor::End);
    QTest::keyClicks(memo, typed.mid(1));
  } else {
    memo->setPlainText(typed);
  }
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QVERIFY(Prompts.Errors().isEmpty());
  const String ruleKey = rule.toStdU16String();
  QCOMPARE(source->GetItem(ruleKey)->Type(), asText ? jdtString : jdtObject);
  QVERIFY(RuleObjectJson(source, ruleKey) == Canonical(expected.toUtf8().constData()));
  // Every other member as it was, in its place; an absent rule comes last.
  std::vector<String> names = MemberNames(before.get());
  if (!before->Contains(ruleKey)) names.push_back(ruleKey);
  QVERIFY(MemberNames(source) == names);
  for (int i = 0; i < before->Count(); ++i) {
    const String name(before->GetItems(i)->Name());
    if (name != ruleKey) QVERIFY2(MemberJson(source, name) == MemberJson(before.get(), name), qPrintable(QString::fromStdU16String(name)));
  }
}

// ---------------------------------------------------------------- header and exploreUrl keep their form

void TEditSource3Test::headerAndExploreKeepTheirForm_data() {
  QTest::addColumn<QString>("key");
  QTest::addColumn<QString>("stored");  // the member as JSON, "" for absent
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("expected");  // the member afterwards as JSON
  QTest::newRow("header object, members written")
      << "header" << R"({"User-Agent": "a", "proxy": "socks5://p:1"})" << "{\"User-Agent\": \"b\",\n \"Referer\": \"r\"}"
      << R"({"User-Agent": "b", "Referer": "r"})";
  QTest::newRow("header text stays text") << "header" << R"("{\"User-Agent\": \"a\"}")"
                                          << "{\"User-Agent\": \"b\"}" << R"("{\"User-Agent\": \"b\"}")";
  QTest::newRow("header text keeps its CR LF") << "header" << R"("{\r\n\"User-Agent\": \"a\"\r\n}")"
                                               << "{\n\"User-Agent\": \"b\"\n}"
                                               << R"("{\r\n\"User-Agent\": \"b\"\r\n}")";
  QTest::newRow("header object to a script") << "header" << R"({"User-Agent": "a"})"
                                             << "@js:JSON.stringify({a: 1})" << R"x("@js:JSON.stringify({a: 1})")x";
  QTest::newRow("header object cleared") << "header" << R"({"User-Agent": "a"})" << "" << "{}";
  QTest::newRow("header absent, typed") << "header" << "" << "<js>x</js>" << R"("<js>x</js>")";
  QTest::newRow("explore array stays an array")
      << "exploreUrl" << R"([{"title": "a", "url": "/a"}])" << R"([{"title": "b", "url": "/b"}])"
      << R"([{"title": "b", "url": "/b"}])";
  QTest::newRow("explore array to the list text") << "exploreUrl" << R"([{"title": "a", "url": "/a"}])"
                                                  << "b::/b\nc::/c" << R"("b::/b\nc::/c")";
  QTest::newRow("explore text stays text") << "exploreUrl" << R"("a::/a")" << R"([{"title": "b", "url": "/b"}])"
                                           << R"("[{\"title\": \"b\", \"url\": \"/b\"}]")";
}

void TEditSource3Test::headerAndExploreKeepTheirForm() {
  QFETCH(QString, key);
  QFETCH(QString, stored);
  QFETCH(QString, typed);
  QFETCH(QString, expected);
  const QString member = stored.isEmpty() ? QString() : QStringLiteral(", \"%1\": %2").arg(key, stored);
  AddFile(Fixture("one.json", QStringLiteral(R"([{"bookSourceUrl": "http://h/", "enabled": true%1, "weight": 1}])")
                                  .arg(member)
                                  .toUtf8()));
  JSONObject* source = W->Logic().SourceOfRow(0);
  const std::unique_ptr<JSONObject> before(JSONObject::ParseObject(source->ToString(), true));
  TfrmEditSource* D = W->EditSource(source, false);
  QPlainTextEdit* memo = MemoOf(D, key);
  // An object or array is shown as its JSON text.
  if (stored.startsWith('{') || stored.startsWith('[')) {
    std::unique_ptr<JSONBase> shown(JSONBase::Parser(memo->toPlainText().toStdU16String(), true));
    QVERIFY(shown->ToString() == before->GetItem(key.toStdU16String())->GetObject()->ToString());
  }
  memo->setPlainText(typed);
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QVERIFY(Prompts.Errors().isEmpty());
  const String k = key.toStdU16String();
  QCOMPARE(QString::fromStdU16String(MemberJson(source, k)),
           QString::fromStdU16String(Canonical(QStringLiteral("{\"%1\": %2}").arg(key, expected).toUtf8().constData())));
  for (const char16_t* other : {u"bookSourceUrl", u"enabled", u"weight"})
    QVERIFY(MemberJson(source, other) == MemberJson(before.get(), other));
  QCOMPARE(source->Count(), before->Count() + (stored.isEmpty() ? 1 : 0));
}

void TEditSource3Test::badHeaderIsRefused_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("refused");
  QTest::addColumn<QString>("where");  // in the message when refused
  QTest::newRow("header lines") << "User-Agent: Mozilla/5.0" << true << "第1行第1列";
  QTest::newRow("broken object") << "{\"User-Agent\": }" << true << "第1行第16列";
  QTest::newRow("single quotes") << "{'User-Agent': 'a'}" << true << "第1行第2列";
  QTest::newRow("an array") << "[\"User-Agent\"]" << true << "";
  QTest::newRow("an object") << "{\"User-Agent\": \"a\"}" << false << "";
  QTest::newRow("a script") << "  @JS:java.getUserAgent()" << false << "";
  QTest::newRow("a tagged script") << "<JS>x</js>" << false << "";
  QTest::newRow("blank") << "  \n" << false << "";
}

void TEditSource3Test::badHeaderIsRefused() {
  QFETCH(QString, typed);
  QFETCH(bool, refused);
  QFETCH(QString, where);
  AddFile(Fixture("one.json", R"([{"bookSourceUrl": "http://h/", "enabled": true, "header": "{\"A\": \"1\"}"}])"));
  const String before = SourceJson(0);
  TfrmEditSource* D = W->EditSource(W->Logic().SourceOfRow(0), false);
  MemoOf(D, "header")->setPlainText(typed);
  if (refused) {
    // The test button refuses too: nothing is probed with a header the form cannot read.
    QTest::mouseClick(D->Button3, Qt::LeftButton);
    QCOMPARE(Prompts.Errors().size(), 1);
    QVERIFY(Prompts.Errors()[0].endsWith(QStringLiteral("请改正后再测试。")));
    Prompts.Clear();
    Prompts.Install();
  }
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  if (refused) {
    QCOMPARE(Prompts.Errors().size(), 1);
    const QString text = Prompts.Errors()[0];
    QVERIFY2(text.startsWith(QStringLiteral("请求头(header)既不是JSON对象")), qPrintable(text));
    QVERIFY(text.endsWith(QStringLiteral("修改没有保存。")));
    QVERIFY2(where.isEmpty() || text.contains(where), qPrintable(text));
    QVERIFY(D->isVisible());
    QVERIFY(SourceJson(0) == before);
  } else {
    QVERIFY(Prompts.Errors().isEmpty());
    QTRY_VERIFY(W->EditorDialogs().empty());
    QCOMPARE(QString::fromStdU16String(W->Logic().SourceOfRow(0)->GetString(u"header")), typed);
  }
}

void TEditSource3Test::storedBadHeaderLeftAloneIsNoFault() {
  AddFile(Fixture("one.json", R"([{"bookSourceUrl": "http://h/", "enabled": true, "header": "UA: x"}])"));
  TfrmEditSource* D = W->EditSource(W->Logic().SourceOfRow(0), false);
  D->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("名"));
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QVERIFY(Prompts.Errors().isEmpty());
  QVERIFY(W->Logic().SourceOfRow(0)->GetString(u"header") == u"UA: x");
  QVERIFY(W->Logic().SourceOfRow(0)->GetString(u"bookSourceName") == u"名");
}

// ---------------------------------------------------------------- numbers and switches

void TEditSource3Test::numbersAndSwitchesKeepTheirTypes() {
  AddFile(Fixture("typed.json", R"([{"bookSourceUrl": "http://n/", "customOrder": -5, "weight": "3",
                                     "enabledExplore": false, "searchUrl": "/s?q={{key}}"}])"));
  JSONObject* source = W->Logic().SourceOfRow(0);
  TfrmEditSource* D = W->EditSource(source, false);
  auto* explore = D->findChild<QCheckBox*>("chkExplore");
  auto* type = D->findChild<QComboBox*>("cbxType");
  // Absent switches are on, an absent type is text.
  QVERIFY(D->CheckBox1->isChecked());
  QVERIFY(!explore->isChecked());
  QCOMPARE(type->currentIndex(), 0);
  QCOMPARE(LineOf(D, "customOrder")->text(), QStringLiteral("-5"));
  QCOMPARE(D->Edit27->text(), QStringLiteral("3"));
  QCOMPARE(D->InputOf("weight"), static_cast<QWidget*>(D->Edit27));
  // Untouched: nothing written.
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QVERIFY((MemberNames(source) ==
           std::vector<String>{u"bookSourceUrl", u"customOrder", u"weight", u"enabledExplore", u"searchUrl"}));

  D = W->EditSource(source, false);
  explore = D->findChild<QCheckBox*>("chkExplore");
  type = D->findChild<QComboBox*>("cbxType");
  LineOf(D, "customOrder")->clear();
  QTest::keyClicks(LineOf(D, "customOrder"), "-12x");
  D->Edit27->setText(QStringLiteral("-7"));
  explore->setChecked(true);
  type->setCurrentIndex(2);
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(source->GetItem(u"customOrder")->Type(), jdtInteger);
  QCOMPARE(source->GetInt64(u"customOrder"), int64_t(-12));
  // Stored as text, written as text.
  QCOMPARE(source->GetItem(u"weight")->Type(), jdtString);
  QVERIFY(source->GetString(u"weight") == u"-7");
  QCOMPARE(source->GetItem(u"enabledExplore")->Type(), jdtBoolean);
  QVERIFY(source->GetBoolean(u"enabledExplore"));
  QCOMPARE(source->GetItem(u"bookSourceType")->Type(), jdtInteger);
  QCOMPARE(source->GetInt64(u"bookSourceType"), int64_t(2));
  // The switch that stayed on stays absent.
  QVERIFY(!source->Contains(u"enabled"));

  // A type this form has no name for is shown and kept.
  source->SetInt64(u"bookSourceType", 7);
  D = W->EditSource(source, false);
  QCOMPARE(D->findChild<QComboBox*>("cbxType")->currentData().toInt(), 7);
  D->CheckBox1->setChecked(false);
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(source->GetInt64(u"bookSourceType"), int64_t(7));
  QCOMPARE(source->GetItem(u"enabled")->Type(), jdtBoolean);
  QVERIFY(!source->GetBoolean(u"enabled"));
}

// ---------------------------------------------------------------- which form

void TEditSource3Test::formatDecidesTheForm_data() {
  QTest::addColumn<QByteArray>("json");
  QTest::addColumn<bool>("format3");
  QTest::addColumn<bool>("mixed");
  QTest::newRow("format 2") << QByteArray(R"({"bookSourceUrl": "http://a/", "ruleSearchUrl": "/s?k=searchKey",
                                              "enable": true, "serialNumber": 3})")
                            << false << false;
  QTest::newRow("bare") << QByteArray(R"({"bookSourceUrl": "http://a/", "bookSourceName": "甲"})") << false << false;
  QTest::newRow("format 3") << QByteArray(R"({"bookSourceUrl": "http://a/", "ruleToc": {"chapterList": "li"}})")
                            << true << false;
  QTest::newRow("mixed") << QByteArray(R"({"bookSourceUrl": "http://a/", "ruleSearchUrl": "/old?k=searchKey",
                                           "enable": false, "serialNumber": 3, "searchUrl": "/new?k={{key}}"})")
                         << true << true;
}

void TEditSource3Test::formatDecidesTheForm() {
  QFETCH(QByteArray, json);
  QFETCH(bool, format3);
  QFETCH(bool, mixed);
  AddFile(Fixture("one.json", "[" + json + "]"));
  JSONObject* source = W->Logic().SourceOfRow(0);
  const std::unique_ptr<JSONObject> before(JSONObject::ParseObject(source->ToString(), true));
  TfrmEditSource* D = W->EditSource(source, false);
  QCOMPARE(D->Format3(), format3);
  if (!format3) {
    // Today's flat form.
    QVERIFY(D->ScrollBox1 && !D->PageControl1);
    QCOMPARE(D->Inputs().size(), size_t(28));
    QVERIFY(D->Edit28->isVisibleTo(D));
    QCOMPARE(D->CheckBox1->parentWidget(), D->Panel1);
    QVERIFY(qobject_cast<QLineEdit*>(D->InputOf("ruleSearchUrl")));
    QVERIFY(!D->InputOf("searchUrl"));
    D->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("乙"));
    QTest::mouseClick(D->Button1, Qt::LeftButton);
    QVERIFY(source->GetString(u"bookSourceName") == u"乙");
    return;
  }
  QVERIFY(D->PageControl1 && !D->ScrollBox1);
  QVERIFY(!D->InputOf("ruleSearchUrl"));
  QCOMPARE(D->lblMixed->isVisibleTo(D), mixed);
  QCOMPARE(D->EnableKey(), QStringLiteral("enabled"));
  if (mixed) {
    // The current format decides: `enabled` is absent, so the source is on.
    QVERIFY(D->CheckBox1->isChecked());
    QCOMPARE(MemoOf(D, "searchUrl")->toPlainText(), QStringLiteral("/new?k={{key}}"));
  }
  MemoOf(D, "searchUrl")->setPlainText(QStringLiteral("/newer?k={{key}}"));
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QVERIFY(source->GetString(u"searchUrl") == u"/newer?k={{key}}");
  // The flat members stay as they were.
  for (int i = 0; i < before->Count(); ++i) {
    const String name(before->GetItems(i)->Name());
    if (name != u"searchUrl") QVERIFY(MemberJson(source, name) == MemberJson(before.get(), name));
  }
  QCOMPARE(source->Count(), before->Count() + (before->Contains(u"searchUrl") ? 0 : 1));
}

// ---------------------------------------------------------------- a new source

void TEditSource3Test::newSourceAsksTheFormat() {
  AddFile(Fixture("one.json", SourcesJson({{"g", "甲", "http://a/"}})));
  // Cancelled: no form.
  Prompts.Answers = {QMessageBox::Cancel};
  W->N7Click();
  QVERIFY(W->EditorDialogs().empty());
  QCOMPARE(Prompts.Messages.size(), size_t(1));
  const TMessageRequest ask = Prompts.Messages[0];
  QCOMPARE(ask.Title, QStringLiteral("新建书源"));
  QCOMPARE(ask.Buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  // The current format is preselected.
  QCOMPARE(ask.Default, QMessageBox::Yes);
  QCOMPARE(ask.ButtonTexts.size(), size_t(3));
  QCOMPARE(ask.ButtonTexts[0].first, QMessageBox::Yes);
  QCOMPARE(ask.ButtonTexts[0].second, QStringLiteral("新格式(&3)"));
  QCOMPARE(ask.ButtonTexts[1].second, QStringLiteral("旧格式(&2)"));

  // The older format: the flat form, as before.
  Prompts.Answers = {QMessageBox::No};
  W->N7Click();
  QCOMPARE(W->EditorDialogs().size(), size_t(1));
  QVERIFY(!W->EditorDialogs().back()->Format3());
  QCOMPARE(W->EditorDialogs().back()->Inputs().size(), size_t(28));
  QTest::mouseClick(W->EditorDialogs().back()->Button2, Qt::LeftButton);
  QTRY_VERIFY(W->EditorDialogs().empty());

  // The current format: its pages; an address is still required.
  Prompts.Answers = {QMessageBox::Yes};
  W->N7Click();
  TfrmEditSource* D = W->EditorDialogs().back();
  QVERIFY(D->Format3());
  QVERIFY(D->CheckBox1->isChecked());
  QVERIFY(D->findChild<QCheckBox*>("chkExplore")->isChecked());
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(Prompts.Errors(), QStringList{QStringLiteral("书源URL未设置，修改没有保存。")});
  QCOMPARE(Rows(), 1);
  D->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("乙"));
  D->findChild<QLineEdit*>("Edit2")->setText(QStringLiteral("http://b/"));
  MemoOf(D, "searchUrl")->setPlainText(QStringLiteral("/s?q={{key}}"));
  MemoOf(D, "ruleSearch.bookList")->setPlainText(QStringLiteral("class.item"));
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(Rows(), 2);
  QCOMPARE(RowText(1), QStringLiteral("【】乙"));
  JSONObject* added = W->Logic().SourceOfRow(1);
  QVERIFY(added->ToString() == Canonical(R"({"bookSourceType": 0, "customOrder": 0, "enabled": true,
      "enabledExplore": true, "weight": 0, "bookSourceName": "乙", "bookSourceUrl": "http://b/",
      "searchUrl": "/s?q={{key}}", "ruleSearch": {"bookList": "class.item"}})"));
  QCOMPARE(SourceFormatOf(added), sfFormat3);
  QTRY_VERIFY(W->EditorDialogs().empty());
  // Opened again it gets the same pages.
  QVERIFY(W->EditSource(added, false)->Format3());
}

// ---------------------------------------------------------------- the test button

void TEditSource3Test::testButtonUsesTheFormsValues() {
  const std::string ok = FServers->Http.Url("/ok");
  AddFile(Fixture("one.json", R"([{"bookSourceUrl": "-", "enabled": true, "ruleToc": "{\"chapterList\": \"li\"}"}])"));
  const String before = SourceJson(0);
  TfrmEditSource* D = W->EditSource(W->Logic().SourceOfRow(0), false);
  QVERIFY(D->Format3());
  QTest::mouseClick(D->Button3, Qt::LeftButton);
  QTRY_COMPARE(Prompts.Messages.size(), size_t(1));
  QCOMPARE(Prompts.Messages[0].Title, QStringLiteral("书源异常"));
  QVERIFY(Prompts.Messages[0].Text.startsWith(QStringLiteral("无效的书源URL.")));
  // The typed address is probed; the listed source keeps its own.
  D->findChild<QLineEdit*>("Edit2")->setText(QString::fromStdString(ok));
  MemoOf(D, "ruleToc.chapterName")->setPlainText(QStringLiteral("a@text"));
  QTest::mouseClick(D->Button3, Qt::LeftButton);
  QTRY_COMPARE(Prompts.Messages.size(), size_t(2));
  QCOMPARE(Prompts.Messages[1].Title, QStringLiteral("恭喜, 检测通过!"));
  QVERIFY(SourceJson(0) == before);
  QVERIFY(D->isVisible());
}
