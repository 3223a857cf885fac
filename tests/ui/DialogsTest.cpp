#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <chrono>
#include <thread>

#include "HttpTestServers.h"
#include "UiTestSuites.h"
#include "json/KivJson.h"
#include "ui/uFrmEditSource.h"
#include "ui/uFrmReplaceGroup.h"
#include "ui/uFrmWait.h"

struct TDialogsTest::TServers {
  TLocalHttpServer Http;
};

void TDialogsTest::initTestCase() {
  ClearProxyEnvironment();
  FServers = new TServers;
  auto& s = FServers->Http.Server();
  s.Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  s.Get("/nf", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
  s.Get("/err", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
  s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    res.set_content("ok", "text/plain");
  });
  FServers->Http.Start();
}

void TDialogsTest::cleanupTestCase() { delete FServers; }

namespace {

TfrmEditSource* OpenEditorOnRow(TForm1& W, int ARow) {
  const QModelIndex index = W.SrcList->model()->index(ARow, 0);
  W.SrcList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  W.E1Click();
  const auto dialogs = W.EditorDialogs();
  return dialogs.empty() ? nullptr : dialogs.back();
}

QLineEdit* EditOf(TfrmEditSource* D, const QString& AKey) {
  for (QWidget* input : D->Inputs())
    if (TfrmEditSource::KeyOf(input) == AKey) return qobject_cast<QLineEdit*>(input);
  return nullptr;
}

std::vector<String> MemberNames(const JSONObject* AObject) {
  std::vector<String> names;
  for (int i = 0; i < AObject->Count(); ++i) names.emplace_back(AObject->GetItems(i)->Name());
  return names;
}

}  // namespace

// ---------------------------------------------------------------- the source editor dialog

void TDialogsTest::editDialogFillsAndConfirms() {
  AddFile(Fixture("two.json", SourcesJson({{"g1", "甲", "http://a/"}, {"g2", "乙", "http://b/"}})));
  // A double click on a row opens it.
  const QModelIndex index = W->SrcList->model()->index(1, 0);
  const QPoint at = W->SrcList->visualRect(index).center();
  QTest::mouseClick(W->SrcList->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(W->SrcList->viewport(), Qt::LeftButton, {}, at);
  QCOMPARE(W->EditorDialogs().size(), size_t(1));
  TfrmEditSource* D = W->EditorDialogs().back();
  QVERIFY(!D->isModal());
  QCOMPARE(D->windowTitle(), QStringLiteral("编辑书源"));
  // Inputs in creation order, each with its key.
  QCOMPARE(D->Inputs().size(), size_t(28));
  QCOMPARE(TfrmEditSource::KeyOf(D->Inputs()[0]), QStringLiteral("bookSourceGroup"));
  QCOMPARE(TfrmEditSource::KeyOf(D->Inputs()[1]), QStringLiteral("ruleFindUrl"));
  QCOMPARE(TfrmEditSource::KeyOf(D->Inputs()[2]), QStringLiteral("bookSourceName"));
  QCOMPARE(TfrmEditSource::KeyOf(D->Inputs()[27]), QStringLiteral("httpUserAgent"));
  QCOMPARE(D->Inputs()[2]->objectName(), QStringLiteral("Edit1"));
  QCOMPARE(D->Inputs()[27]->objectName(), QStringLiteral("Edit26"));
  auto* name = D->findChild<QLineEdit*>("Edit1");
  QCOMPARE(name->text(), QStringLiteral("乙"));
  QCOMPARE(name->placeholderText(), QStringLiteral("必填"));
  auto* group = D->findChild<QComboBox*>("ComboBox1");
  QCOMPARE(group->currentText(), QStringLiteral("g2"));
  // The filter's groups, without its 全部.
  QCOMPARE(group->count(), W->bookGroupList->count() - 1);
  auto* urlLabel = D->findChild<QLabel*>("Label_bookSourceUrl");
  QCOMPARE(urlLabel->text(), QStringLiteral("书源URL：(bookSourceUrl)"));
  QCOMPARE(urlLabel->palette().color(QPalette::WindowText), QColor(Qt::red));
  QVERIFY(urlLabel->font().bold());
  QVERIFY(!D->findChild<QLabel*>("Label_loginUrl")->font().bold());

  // The main window stays usable meanwhile.
  QTest::mouseClick(W->SrcList->viewport(), Qt::LeftButton, {}, at);
  QVERIFY(W->EditData->text().contains(QStringLiteral("乙")));

  name->setText(QStringLiteral("乙改"));
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(RowText(1), QStringLiteral("【g2】乙改"));
  // The editor pane showed that source: it follows.
  QVERIFY(W->EditData->text().contains(QStringLiteral("乙改")));
  QTRY_VERIFY(W->EditorDialogs().empty());

  // Cancel writes nothing.
  D = OpenEditorOnRow(*W, 0);
  D->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("不要"));
  QTest::mouseClick(D->Button2, Qt::LeftButton);
  QCOMPARE(RowText(0), QStringLiteral("【g1】甲"));
  QTRY_VERIFY(W->EditorDialogs().empty());
}

void TDialogsTest::editDialogNumbersAndMemo() {
  AddFile(Fixture("few.json", R"([{"bookSourceUrl": "http://a/", "weight": "5", "serialNumber": 7,
                                   "ruleFindUrl": "x::http://a/1\r\ny::http://a/2", "custom": [1, 2]}])"));
  TfrmEditSource* D = OpenEditorOnRow(*W, 0);
  QVERIFY(D);
  QCOMPARE(D->Edit27->text(), QStringLiteral("5"));
  QCOMPARE(D->Edit28->text(), QStringLiteral("7"));
  auto* memo = D->findChild<QPlainTextEdit*>("Memo1");
  QCOMPARE(memo->toPlainText(), QStringLiteral("x::http://a/1\ny::http://a/2"));
  memo->setPlainText(QStringLiteral("a\nb\nc"));
  D->Edit28->clear();  // not a number: the serial number stays
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  JSONObject* source = W->Logic().SourceOfRow(0);
  // The weight was not touched: it stays as stored.
  QCOMPARE(source->GetItem(u"weight")->Type(), jdtString);
  QCOMPARE(source->GetInt64(u"weight"), int64_t(5));
  QCOMPARE(source->GetInt64(u"serialNumber"), int64_t(7));
  QVERIFY(source->GetString(u"ruleFindUrl") == u"a\r\nb\r\nc");
  // Only the changed member was written: nothing absent came, the unknown one stayed.
  QVERIFY((MemberNames(source) ==
           std::vector<String>{u"bookSourceUrl", u"weight", u"serialNumber", u"ruleFindUrl", u"custom"}));
  QCOMPARE(source->GetItem(u"custom")->Type(), jdtObject);

  D = OpenEditorOnRow(*W, 0);
  D->Edit27->clear();
  QTest::keyClicks(D->Edit27, "-9x12");  // digits only
  QCOMPARE(D->Edit27->text(), QStringLiteral("912"));
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(W->Logic().SourceOfRow(0)->GetInt64(u"weight"), int64_t(912));
}

void TDialogsTest::editDialogNewSource() {
  AddFile(Fixture("one.json", SourcesJson({{"g", "甲", "http://a/"}})));
  // Cancelled: nothing added (and the new source is freed with the dialog).
  // The older format's flat form.
  Prompts.Answers = {QMessageBox::No};
  W->N7Click();
  QCOMPARE(W->EditorDialogs().size(), size_t(1));
  QTest::mouseClick(W->EditorDialogs().back()->Button2, Qt::LeftButton);
  QTRY_VERIFY(W->EditorDialogs().empty());
  QCOMPARE(Rows(), 1);

  // Everything empty and OK: refused, the form stays.
  Prompts.Answers = {QMessageBox::No};
  W->PopupMenu1->findChild<QAction*>("N1")->trigger();
  TfrmEditSource* D = W->EditorDialogs().back();
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(Rows(), 1);
  QVERIFY(D->isVisible());
  // What was filled in is added, members in form order.
  D->CheckBox1->setChecked(true);
  D->Edit27->setText(QStringLiteral("3"));
  D->findChild<QLineEdit*>("Edit2")->setText(QStringLiteral("http://b/"));
  D->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("乙"));
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(Rows(), 2);
  QCOMPARE(RowText(1), QStringLiteral("【】乙"));
  QVERIFY((MemberNames(W->Logic().SourceOfRow(1)) ==
           std::vector<String>{u"enable", u"weight", u"bookSourceName", u"bookSourceUrl"}));
}

void TDialogsTest::editDialogTestUsesFormValues() {
  AddFile(Fixture("one.json", SourcesJson({{"g", "甲", FServers->Http.Url("/ok").c_str()}})));
  TfrmEditSource* D = OpenEditorOnRow(*W, 0);
  const QString okUrl = QString::fromStdString(FServers->Http.Url("/ok"));
  QCOMPARE(EditOf(D, "bookSourceUrl")->text(), okUrl);
  QTest::mouseClick(D->Button3, Qt::LeftButton);
  QTRY_COMPARE(Prompts.Messages.size(), size_t(1));
  QCOMPARE(Prompts.Messages[0].Title, QStringLiteral("恭喜, 检测通过!"));
  QCOMPARE(Prompts.Messages[0].Icon, QMessageBox::Information);
  QVERIFY(Prompts.Messages[0].Text.endsWith("\r\n"));

  // The changed address is probed; the listed source keeps the old one.
  EditOf(D, "bookSourceUrl")->setText(QStringLiteral("-"));
  QTest::mouseClick(D->Button3, Qt::LeftButton);
  QTRY_COMPARE(Prompts.Messages.size(), size_t(2));
  QCOMPARE(Prompts.Messages[1].Title, QStringLiteral("书源异常"));
  QCOMPARE(Prompts.Messages[1].Icon, QMessageBox::Warning);
  QVERIFY(Prompts.Messages[1].Text.startsWith(QStringLiteral("无效的书源URL.\r\n")));
  QVERIFY(W->Logic().SourceOfRow(0)->GetString(u"bookSourceUrl") == okUrl.toStdU16String());

  // No address at all: the error box instead of the verdict.
  EditOf(D, "bookSourceUrl")->clear();
  QTest::mouseClick(D->Button3, Qt::LeftButton);
  QTRY_VERIFY(!D->TestRunning());
  QCOMPARE(Prompts.Errors(), QStringList{QStringLiteral("书源URL无效")});
  QCOMPARE(Prompts.Messages.size(), size_t(3));
}

void TDialogsTest::twoDialogsLastConfirmedWins() {
  AddFile(Fixture("one.json", SourcesJson({{"g", "甲", "http://a/"}})));
  TfrmEditSource* first = OpenEditorOnRow(*W, 0);
  TfrmEditSource* second = OpenEditorOnRow(*W, 0);
  QVERIFY(first != second);
  first->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("一"));
  second->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("二"));
  QTest::mouseClick(second->Button1, Qt::LeftButton);
  QTest::mouseClick(first->Button1, Qt::LeftButton);
  QCOMPARE(RowText(0), QStringLiteral("【g】一"));
  QCOMPARE(Rows(), 1);
}

void TDialogsTest::dialogClosesWhenItsSourceLeaves_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("removed") << "remove";
  QTest::newRow("cleared") << "clear";
  QTest::newRow("collection reopened") << "open";
}

void TDialogsTest::dialogClosesWhenItsSourceLeaves() {
  QFETCH(QString, how);
  const QString file = Fixture("two.json", SourcesJson({{"g", "甲", "http://a/"}, {"g", "乙", "http://b/"}}));
  AddFile(file);
  QPointer<TfrmEditSource> leaving = OpenEditorOnRow(*W, 0);
  QPointer<TfrmEditSource> staying = OpenEditorOnRow(*W, 1);
  leaving->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("写入"));
  if (how == "remove") {
    W->SrcList->selectionModel()->setCurrentIndex(W->SrcList->model()->index(0, 0),
                                                  QItemSelectionModel::ClearAndSelect);
    W->D1Click();
  } else if (how == "clear") {
    W->C1Click();
  } else {
    Prompts.Files.push_back(file);
    W->O1Click();
  }
  QVERIFY(!leaving || leaving->Data() == nullptr);
  QTRY_VERIFY(leaving.isNull());
  if (how == "remove") {
    QVERIFY(!staying.isNull());
    QCOMPARE(Rows(), 1);
    QCOMPARE(RowText(0), QStringLiteral("【g】乙"));
  } else {
    QTRY_VERIFY(staying.isNull());
  }
  for (int i = 0; i < Rows(); ++i) QVERIFY(!RowText(i).contains(QStringLiteral("写入")));
}

void TDialogsTest::dialogSizeRememberedAndWheelScrolls() {
  AddFile(Fixture("one.json", SourcesJson({{"g", "甲", "http://a/"}})));
  TfrmEditSource* first = OpenEditorOnRow(*W, 0);
  QVERIFY(QTest::qWaitForWindowExposed(first));
  first->resize(900, 400);
  TfrmEditSource* second = OpenEditorOnRow(*W, 0);
  QCOMPARE(second->size(), QSize(900, 400));

  // One line per wheel turn, wherever the mouse is over the dialog.
  QScrollBar* bar = second->ScrollBox1->verticalScrollBar();
  QVERIFY(QTest::qWaitForWindowExposed(second));
  QTRY_VERIFY(bar->maximum() > 0);
  bar->setValue(0);
  QWidget* over = EditOf(second, "ruleSearchUrl");
  auto turn = [&](int ADelta, ulong AStamp) {
    QWheelEvent wheel(QPointF(5, 5), over->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, ADelta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    wheel.setTimestamp(AStamp);
    QApplication::sendEvent(over, &wheel);
  };
  turn(-120, 1000);
  QCOMPARE(bar->value(), bar->singleStep());
  turn(-120, 1010);
  QCOMPARE(bar->value(), 2 * bar->singleStep());
  turn(120, 1020);
  QCOMPARE(bar->value(), bar->singleStep());
  // Over the scroll area itself: still exactly one line.
  turn(-120, 1030);
  QWheelEvent onArea(QPointF(5, 5), second->ScrollBox1->viewport()->mapToGlobal(QPointF(5, 5)), QPoint(),
                     QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  onArea.setTimestamp(1040);
  QApplication::sendEvent(second->ScrollBox1->viewport(), &onArea);
  QCOMPARE(bar->value(), 3 * bar->singleStep());
  first->close();
  second->close();
}

// ---------------------------------------------------------------- the replace-group dialog

void TDialogsTest::replaceGroupDialog_data() {
  QTest::addColumn<QString>("find");
  QTest::addColumn<QString>("replace");
  QTest::addColumn<bool>("wholeWord");
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("row0");
  QTest::newRow("whole word, trimmed inputs") << " g1 " << " 新组 " << true << "ok" << "【新组】甲";
  QTest::newRow("cancelled") << "g1" << "x" << true << "cancel" << "【g1】甲";
  QTest::newRow("escape") << "g1" << "x" << true << "escape" << "【g1】甲";
  QTest::newRow("blank find, whole word off") << "" << "" << false << "ok" << "【g1】甲";
  QTest::newRow("substring, case ignored") << "G" << "k" << false << "ok" << "【k1】甲";
}

void TDialogsTest::replaceGroupDialog() {
  QFETCH(QString, find);
  QFETCH(QString, replace);
  QFETCH(bool, wholeWord);
  QFETCH(QString, button);
  QFETCH(QString, row0);
  AddFile(Fixture("one.json", SourcesJson({{"g1", "甲", "http://a/"}})));
  bool seen = false;
  WhenModal<TfrmReplaceGroup>([&](TfrmReplaceGroup* D) {
    seen = true;
    QCOMPARE(D->windowTitle(), QStringLiteral("替换 - 书源分组"));
    QVERIFY(D->Edit1->text().isEmpty());
    QVERIFY(D->CheckBox1->isChecked());
    D->Edit1->setText(find);
    D->Edit2->setText(replace);
    D->CheckBox1->setChecked(wholeWord);
    if (button == "ok")
      QTest::mouseClick(D->Button1, Qt::LeftButton);
    else if (button == "cancel")
      QTest::mouseClick(D->Button2, Qt::LeftButton);
    else
      QTest::keyClick(D, Qt::Key_Escape);
  });
  W->findChild<QAction*>("H2")->trigger();
  QVERIFY(seen);
  QVERIFY(!TfrmReplaceGroup::Current());
  QCOMPARE(RowText(0), row0);
}

// ---------------------------------------------------------------- the wait dialog and the run

void TDialogsTest::waitDialogWithoutStagesUntilCancel() {
  W->CheckBox1->setChecked(false);
  W->CheckBox2->setChecked(false);
  bool seen = false;
  WhenModal<TForm2>([&](TForm2* D) {
    seen = true;
    QVERIFY(D->windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(D->size(), QSize(251, 173));
    QCOMPARE(D->Label1->text(), QStringLiteral("正在处理, 请等待..."));
    QCOMPARE(W->Button1->property("Tag").toInt(), int(rsRunning));
    // A second show while one exists returns at once.
    TForm2::ShowWait(W.get(), W->Logic());
    QCOMPARE(TForm2::Current(), D);
    QTest::qWait(150);
    QVERIFY(D->isVisible());  // no stage ends by itself: only cancel closes it
    QTest::keyClick(D, Qt::Key_Escape);
  });
  QElapsedTimer clock;
  clock.start();
  QTest::mouseClick(W->Button1, Qt::LeftButton);
  QVERIFY(seen);
  QVERIFY(!TForm2::Current());
  QVERIFY(clock.elapsed() < 10000);
  QVERIFY(LogText().contains(QStringLiteral("任务结束")));
  QCOMPARE(W->Button1->text(), QStringLiteral("开始处理(&B)"));
  QCOMPARE(W->Button1->property("Tag").toInt(), int(rsIdle));
  QVERIFY(!W->Timer1->isActive());
}

void TDialogsTest::batchRunDedupesAndMarksDeadSources() {
  const std::string ok = FServers->Http.Url("/ok"), nf = FServers->Http.Url("/nf"), err = FServers->Http.Url("/err");
  AddFile(Fixture("run.json", SourcesJson({{"g", "活", ok.c_str()},
                                           {"g", "活", ok.c_str()},
                                           {"g", "死", err.c_str()},
                                           {"g", "无页", nf.c_str()},
                                           {"g", "拒", "http://127.0.0.1:1/"}})));
  QCOMPARE(Rows(), 5);
  W->CheckBox2->setChecked(true);
  W->Edit1->setText(QStringLiteral("4"));
  bool seen = false;
  WhenModal<TForm2>([&](TForm2*) { seen = true; });
  // Should the run hang, cancel it so the test ends with a failure instead.
  QTimer guard;
  guard.setSingleShot(true);
  connect(&guard, &QTimer::timeout, this, [] {
    if (TForm2::Current()) TForm2::Current()->Button1Click();
  });
  guard.start(40000);
  QTest::mouseClick(W->Button1, Qt::LeftButton);
  QVERIFY(guard.isActive());
  guard.stop();
  QVERIFY(seen);
  QVERIFY(!TForm2::Current());
  QVERIFY(LogText().contains(QStringLiteral("任务结束")));
  QCOMPARE(Rows(), 4);
  QCOMPARE(Status0(), QStringLiteral("书源总数：4个, 当前: 4个"));
  QStringList dead;
  for (int i = 0; i < Rows(); ++i)
    if (RowText(i).contains(QStringLiteral("失效"))) dead << RowText(i);
  dead.sort();
  QCOMPARE(dead.size(), 2);
  QVERIFY(dead.join(' ').contains(QStringLiteral("死")));
  QVERIFY(dead.join(' ').contains(QStringLiteral("拒")));
  QVERIFY(!W->ProgressBar1->isVisible());
  // The marked sources are what the filter finds.
  W->bookGroupList->setEditText(QStringLiteral("失效"));
  QCOMPARE(Rows(), 2);
}

// 文件 → 导出校验报告... is there once a check has run, and writes the same
// report as the batch program (CSV by the name's extension, else JSON).
void TDialogsTest::checkReportAfterACheckRun() {
  const std::string ok = FServers->Http.Url("/ok"), err = FServers->Http.Url("/err");
  AddFile(Fixture("run.json", SourcesJson({{"g", "活", ok.c_str()}, {"g", "死", err.c_str()}})));
  QVERIFY(!W->R3->isEnabled());
  W->CheckBox1->setChecked(false);
  W->CheckBox2->setChecked(true);
  QTest::mouseClick(W->Button1, Qt::LeftButton);
  QVERIFY(!TForm2::Current());
  QVERIFY(W->R3->isEnabled());
  const QString csv = FDir.filePath("report.csv"), json = FDir.filePath("report");
  for (const QString& target : {csv, json}) {
    TUiPrompts::FileHook = [&](const QString& ATitle, bool ASave, QString& AName) {
      if (ATitle != QStringLiteral("导出校验报告") || !ASave) return false;
      AName = target;
      return true;
    };
    W->R3->trigger();
  }
  TUiPrompts::FileHook = nullptr;
  QFile file(csv);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  QCOMPARE(lines.size(), 3);
  QCOMPARE(lines[0], QStringLiteral("position,bookSourceName,bookSourceUrl,verdict,status,failText,elapsedMs,reason,"
                                    "confirmed,note,attempts,search,explore"));
  QVERIFY(lines[1].startsWith(QStringLiteral("1,活,") + QString::fromStdString(ok) + QStringLiteral(",alive,200,,")));
  QVERIFY(lines[2].startsWith(QStringLiteral("2,死,") + QString::fromStdString(err) + QStringLiteral(",dead,500,")));
  QFile plain(json);
  QVERIFY(plain.open(QIODevice::ReadOnly));
  QVERIFY(plain.readAll().contains("\"verdict\": \"dead\""));
}

void TDialogsTest::cancelTwiceStopsTheRun() {
  const std::string slow = FServers->Http.Url("/slow");
  std::vector<std::array<const char*, 3>> sources;
  const char* names[] = {"一", "二", "三", "四", "五", "六", "七", "八"};
  for (const char* name : names) sources.push_back({"g", name, slow.c_str()});
  AddFile(Fixture("slow.json", SourcesJson(sources)));
  W->CheckBox1->setChecked(false);
  W->CheckBox2->setChecked(true);
  W->Edit1->setText(QStringLiteral("3"));  // two check jobs: the eight sources take four rounds
  QStringList captions;
  bool stillOpen = false;
  WhenModal<TForm2>([&](TForm2* D) {
    QTest::mouseClick(D->Button1, Qt::LeftButton);
    captions << W->Button1->text();
    QTest::mouseClick(D->Button1, Qt::LeftButton);
    captions << W->Button1->text();
    stillOpen = D->isVisible();  // the checks under way finish first
  });
  QElapsedTimer clock;
  clock.start();
  QTest::mouseClick(W->Button1, Qt::LeftButton);
  QCOMPARE(captions, (QStringList{"正在停止...", "正在停止..."}));
  QVERIFY(stillOpen);
  QVERIFY(!TForm2::Current());
  QVERIFY(clock.elapsed() < 5000);  // not all four rounds
  QVERIFY(LogText().contains(QStringLiteral("任务结束")));
  QCOMPARE(W->Button1->property("Tag").toInt(), int(rsIdle));
  QCOMPARE(W->Button1->text(), QStringLiteral("开始处理(&B)"));
}

void TDialogsTest::dedupeClosesDialogOnRemovedCopy() {
  AddFile(Fixture("dups.json", SourcesJson({{"g", "甲", "http://a/"}, {"g", "甲", "http://a/"}, {"g", "乙", "http://b/"}})));
  QPointer<TfrmEditSource> original = OpenEditorOnRow(*W, 0);
  QPointer<TfrmEditSource> copy = OpenEditorOnRow(*W, 1);
  QTest::mouseClick(W->Button1, Qt::LeftButton);  // duplicate removal only
  QCOMPARE(Rows(), 2);
  QTRY_VERIFY(copy.isNull());
  QVERIFY(!original.isNull());
  QCOMPARE(original->Data(), W->Logic().SourceOfRow(0));
}
