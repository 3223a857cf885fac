// The desktop program never loses work and acts on the source the user
// sees: each test replays what a user does in the window.
#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include <chrono>
#include <thread>

#include "HttpTestServers.h"
#include "UiTestSuites.h"
#include "app/uBookSourceBean.h"
#include "json/KivJson.h"
#include "ui/uFrmEditSource.h"
#include "ui/uFrmGuide.h"
#include "ui/uFrmReplaceGroup.h"
#include "ui/uFrmWait.h"

struct TWorkSafetyTest::TServers {
  TLocalHttpServer Http;
};

void TWorkSafetyTest::initTestCase() {
  ClearProxyEnvironment();
  FServers = new TServers;
  auto& s = FServers->Http.Server();
  s.Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  s.Get("/err", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
  s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    res.set_content("ok", "text/plain");
  });
  FServers->Http.Start();
}

void TWorkSafetyTest::cleanupTestCase() { delete FServers; }

namespace {

const QByteArray kThree = SourcesJson({{"VIP书源", "甲", "http://127.0.0.1:1/a"},
                                       {"普通", "vip精选", "http://127.0.0.1:1/b"},
                                       {"普通", "乙", "http://127.0.0.1:1/c"}});

QAction* Item(QObject* AMenu, const char* AName) { return AMenu->findChild<QAction*>(AName); }

void CtrlKey(QWidget* AWidget, Qt::Key AKey) {
  // Window shortcuts need their window active (a dialog may just have closed).
  AWidget->window()->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(AWidget->window()));
  AWidget->setFocus();
  QTest::keyClick(AWidget, AKey, Qt::ControlModifier);
}

void SaveWithCtrlS(TForm1& W) { CtrlKey(W.EditData, Qt::Key_S); }

// What an export of the whole list writes.
QByteArray Exported(TForm1& W, const QTemporaryDir& ADir) {
  const QString path = ADir.filePath("probe.json");
  W.Logic().Sources().Export(path.toStdU16String());
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<int> SelectedRows(TForm1& W) {
  QList<int> rows;
  // A row counts once, however many of its cells are selected.
  for (const QModelIndex& i : W.SrcList->selectionModel()->selectedIndexes()) rows << i.row();
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

QString EditorName(TForm1& W) {
  const QRegularExpressionMatch m =
      QRegularExpression(QStringLiteral("\"bookSourceName\": \"([^\"]*)\"")).match(W.EditData->text());
  return m.hasMatch() ? m.captured(1) : QString();
}

void RightClickRow(TForm1& W, int ARow) {
  const QModelIndex index = W.SrcList->model()->index(ARow, 0);
  QTest::mouseClick(W.SrcList->viewport(), Qt::RightButton, {}, W.SrcList->visualRect(index).center());
}

void RunOnce(TForm1& W) {
  // Should the run hang, cancel it so the test ends with a failure instead.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (TForm2::Current()) TForm2::Current()->Button1Click();
  });
  guard.start(40000);
  QTest::mouseClick(W.Button1, Qt::LeftButton);
  QVERIFY(guard.isActive());
  QVERIFY(!TForm2::Current());
}

// The window with every progress step it was shown and the sources settled
// by then.
class TProgressWindow : public TForm1 {
 public:
  struct TStep {
    int Max, Position, Settled;
  };
  std::vector<TStep> Steps;
  void SetProgress(int AMin, int AMax, int APosition) override {
    Steps.push_back({AMax, APosition, int(Logic().CheckOutcomes().size())});
    TForm1::SetProgress(AMin, AMax, APosition);
  }
};

}  // namespace

// ---------------------------------------------------------------- 1. the editor after bulk changes

void TWorkSafetyTest::editorFollowsBulkChanges() {
  const std::string dead = FServers->Http.Url("/err");
  AddFile(Fixture("one.json", SourcesJson({{"优", "甲", dead.c_str()}, {"优", "乙", dead.c_str()}})));
  ClickRow(0);
  QCOMPARE(EditorName(*W), QStringLiteral("甲"));
  W->CheckBox1->setChecked(false);
  W->CheckBox2->setChecked(true);
  RunOnce(*W);
  QCOMPARE(RowText(0), QStringLiteral("【优; 失效】甲"));
  // The unmodified editor shows the mark.
  QVERIFY(W->EditData->text().contains(QStringLiteral("\"bookSourceGroup\": \"优; 失效\"")));
  QVERIFY(!W->Logic().IsChange());

  // A modified editor keeps the user's text; saving asks first.
  QString typed = W->EditData->text();
  typed.replace(QStringLiteral("\"甲\""), QStringLiteral("\"甲改\""));
  W->EditData->setText(typed);
  WhenModal<TfrmReplaceGroup>([](TfrmReplaceGroup* D) {
    D->Edit1->setText(QStringLiteral("优"));
    D->Edit2->setText(QStringLiteral("良"));
    QTest::mouseClick(D->Button1, Qt::LeftButton);
  });
  W->H2Click();
  QCOMPARE(RowText(0), QStringLiteral("【良; 失效】甲"));
  QCOMPARE(W->EditData->text(), typed);

  // Cancel: the user goes on editing, the rename stays.
  Prompts.Answers = {QMessageBox::Cancel};
  SaveWithCtrlS(*W);
  QCOMPARE(Prompts.Messages.back().Text, QStringLiteral("书源已被其他操作修改，是否覆盖？"));
  QCOMPARE(RowText(0), QStringLiteral("【良; 失效】甲"));
  QCOMPARE(W->EditData->text(), typed);
  // No: the editor shows the source as the other operation left it.
  Prompts.Answers = {QMessageBox::No};
  SaveWithCtrlS(*W);
  QCOMPARE(RowText(0), QStringLiteral("【良; 失效】甲"));
  QCOMPARE(EditorName(*W), QStringLiteral("甲"));
  QVERIFY(W->EditData->text().contains(QStringLiteral("良; 失效")));
  // Yes: the user's text wins.
  W->EditData->setText(typed);
  W->Logic().ReplaceGroups({u"良", u"佳", true});
  Prompts.Answers = {QMessageBox::Yes};
  SaveWithCtrlS(*W);
  QCOMPARE(RowText(0), QStringLiteral("【优; 失效】甲改"));
}

// ---------------------------------------------------------------- 2. the form writes what was changed

void TWorkSafetyTest::formWritesOnlyWhatChanged() {
  AddFile(QStringLiteral(TANVORK_TEST_DATA "/real/choue_bookSource_3.0.json"));
  QVERIFY(Rows() > 0);
  JSONObject* source = W->Logic().SourceOfRow(0);
  const String before = source->ToString();
  QVERIFY(source->Contains(u"enabled") && !source->Contains(u"enable"));
  W->SrcList->selectionModel()->setCurrentIndex(W->SrcList->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
  W->E1Click();
  TfrmEditSource* D = W->EditorDialogs().back();
  QCOMPARE(D->EnableKey(), QStringLiteral("enabled"));
  QCOMPARE(D->CheckBox1->isChecked(), source->GetBoolean(u"enabled"));
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(source->ToString(), before);

  // Unticked: "enabled" changes in place, nothing else comes.
  D = W->EditSource(source, false);
  const int members = source->Count();
  D->CheckBox1->setChecked(!D->CheckBox1->isChecked());
  for (QWidget* input : D->Inputs())
    if (TfrmEditSource::KeyOf(input) == QStringLiteral("loginUrl"))
      QTest::keyClicks(qobject_cast<QLineEdit*>(input), "http://login/");
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(source->Count(), members + 1);
  QVERIFY(!source->Contains(u"enable"));
  QVERIFY(!source->Contains(u"serialNumber"));
  const std::unique_ptr<JSONObject> original(JSONObject::ParseObject(before, true));
  QCOMPARE(source->GetBoolean(u"enabled"), !original->GetBoolean(u"enabled"));
  QVERIFY(source->GetString(u"loginUrl") == u"http://login/");
  QVERIFY(source->GetItems(source->Count() - 1)->Name() == u"loginUrl");
}

// ---------------------------------------------------------------- 3. text that is no standard JSON

void TWorkSafetyTest::nonStandardJsonAsksBeforeSaving() {
  // Members in the order of the newer format: the name is followed by the type.
  AddFile(Fixture("typed.json", R"([{"bookSourceGroup": "g", "bookSourceName": "甲", "bookSourceType": 0,
                                     "bookSourceUrl": "http://a/"}, {"bookSourceUrl": "http://b/"}])"));
  ClickRow(0);
  const String before = SourceJson(0);
  QString text = W->EditData->text();
  // The quote-and-comma at the end of the name's line deleted.
  QVERIFY(text.contains(QStringLiteral("\"甲\",")));
  text.replace(QStringLiteral("\"甲\","), QStringLiteral("\"甲"));
  W->EditData->setText(text);
  Prompts.Answers = {QMessageBox::No};
  SaveWithCtrlS(*W);
  QCOMPARE(Prompts.Messages.size(), size_t(1));
  const TMessageRequest& ask = Prompts.Messages.back();
  QCOMPARE(ask.Text, QStringLiteral("内容不是标准JSON（第3行第25列: 字符串中有未转义的换行或控制字符），仍要保存吗？"));
  QCOMPARE(ask.Buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(ask.Default, QMessageBox::No);
  QVERIFY(SourceJson(0) == before);
  QCOMPARE(W->EditData->text(), text);
  // Yes saves as before: the lenient reading, the name swallowing the line break.
  Prompts.Answers = {QMessageBox::Yes};
  SaveWithCtrlS(*W);
  QVERIFY(Prompts.Errors().isEmpty());
  QVERIFY(SourceJson(0) != before);
  QVERIFY(W->Logic().SourceOfRow(0)->GetString(u"bookSourceName").find(u'\n') != String::npos);
  // Standard text saves without a question.
  Prompts.Clear();
  Prompts.Install();
  ClickRow(1);
  W->EditData->setText(QStringLiteral(R"({"bookSourceName": "新", "bookSourceUrl": "http://x/"})"));
  SaveWithCtrlS(*W);
  QVERIFY(Prompts.Messages.empty());
  QCOMPARE(RowText(1), QStringLiteral("【】新"));
}

// ---------------------------------------------------------------- 4. a new source needs an address

void TWorkSafetyTest::newSourceNeedsAnAddress() {
  AddFile(Fixture("three.json", kThree));
  Prompts.Answers = {QMessageBox::No};  // the older format's flat form
  W->N7Click();
  TfrmEditSource* D = W->EditorDialogs().back();
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(Prompts.Errors(), QStringList{QStringLiteral("书源URL未设置，修改没有保存。")});
  QCOMPARE(Rows(), 3);
  QVERIFY(D->isVisible());
  QCOMPARE(W->EditorDialogs().size(), size_t(1));
  D->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("新源"));
  D->findChild<QLineEdit*>("Edit2")->setText(QStringLiteral("http://new/"));
  QTest::mouseClick(D->Button1, Qt::LeftButton);
  QCOMPARE(Rows(), 4);
  QCOMPARE(RowText(3), QStringLiteral("【】新源"));
  // Only what was typed.
  JSONObject* added = W->Logic().SourceOfRow(3);
  QCOMPARE(added->Count(), 2);
  QTRY_VERIFY(W->EditorDialogs().empty());
}

// ---------------------------------------------------------------- 5. the current row is the editor's source

void TWorkSafetyTest::currentRowIsTheEditorsSource() {
  AddFile(Fixture("three.json", kThree));
  ClickRow(0);
  QCOMPARE(EditorName(*W), QStringLiteral("甲"));
  W->SrcList->setFocus();
  QTest::keyClick(W->SrcList, Qt::Key_Down);
  QCOMPARE(W->GetCurrentRow(), 1);
  QCOMPARE(EditorName(*W), QStringLiteral("vip精选"));
  QTest::keyClick(W->SrcList, Qt::Key_End);
  QCOMPARE(EditorName(*W), QStringLiteral("乙"));
  QTest::keyClick(W->SrcList, Qt::Key_Home);
  QCOMPARE(EditorName(*W), QStringLiteral("甲"));
  RightClickRow(*W, 2);
  QCOMPARE(W->GetCurrentRow(), 2);
  QCOMPARE(EditorName(*W), QStringLiteral("乙"));

  // A modified editor: Cancel keeps the row, the highlight and the text.
  W->EditData->append(QStringLiteral(" "));
  const QString typed = W->EditData->text();
  for (int how = 0; how < 3; ++how) {
    Prompts.Answers = {QMessageBox::Cancel};
    if (how == 0) ClickRow(0);
    if (how == 1) QTest::keyClick(W->SrcList, Qt::Key_Up);
    if (how == 2) RightClickRow(*W, 1);
    QCOMPARE(Prompts.Messages.back().Text, QStringLiteral("书源内容已经修改，是否保存？"));
    QCOMPARE(W->GetCurrentRow(), 2);
    QCOMPARE(SelectedRows(*W), QList<int>{2});
    QCOMPARE(W->EditData->text(), typed);
  }
  // No: the move happens and the editor follows.
  Prompts.Answers = {QMessageBox::No};
  QTest::keyClick(W->SrcList, Qt::Key_Up);
  QCOMPARE(W->GetCurrentRow(), 1);
  QCOMPARE(EditorName(*W), QStringLiteral("vip精选"));

  // The commands act on the row the editor shows.
  Prompts.Inputs.push_back(QStringLiteral("副本"));
  Item(W->PopupMenu1, "C3")->trigger();
  QCOMPARE(RowText(3), QStringLiteral("【普通】副本"));
  QVERIFY(W->Logic().SourceOfRow(3)->GetString(u"bookSourceUrl") == u"http://127.0.0.1:1/b");
  QCOMPARE(EditorName(*W), QStringLiteral("副本"));
  QTest::keyClick(W->SrcList, Qt::Key_Home);
  Item(W->PopupMenu1, "E1")->trigger();
  QCOMPARE(W->EditorDialogs().back()->Data(), W->Logic().SourceOfRow(0));
  W->EditorDialogs().back()->close();
  QTest::keyClick(W->SrcList, Qt::Key_Down);
  QTest::keyClick(W->SrcList, Qt::Key_Delete);
  QCOMPARE(Rows(), 3);
  for (int i = 0; i < Rows(); ++i) QVERIFY(RowText(i) != QStringLiteral("【普通】vip精选"));
}

// ---------------------------------------------------------------- 6. nothing is thrown away unasked

void TWorkSafetyTest::workIsNotThrownAwayUnasked() {
  const QString three = Fixture("three.json", kThree);
  AddFile(three);
  QCOMPARE(W->windowTitle(), QStringLiteral("Tanvork - three.json"));
  // The filter keeps a modified editor.
  ClickRow(0);
  W->EditData->append(QStringLiteral(" "));
  const QString typed = W->EditData->text();
  QTest::keyClicks(W->bookGroupList->lineEdit(), "zzz");
  QCOMPARE(Rows(), 0);
  QCOMPARE(W->EditData->text(), typed);
  W->bookGroupList->lineEdit()->clear();
  QCOMPARE(W->GetCurrentRow(), 0);
  QCOMPARE(W->EditData->text(), typed);
  Prompts.Answers = {QMessageBox::No};
  ClickRow(1);

  // Deleting more than one source asks with the count.
  auto* sel = W->SrcList->selectionModel();
  sel->select(W->SrcList->model()->index(0, 0), QItemSelectionModel::Select);
  sel->select(W->SrcList->model()->index(2, 0), QItemSelectionModel::Select);
  Prompts.Clear();
  Prompts.Install();
  Prompts.Answers = {QMessageBox::No};
  QTest::keyClick(W->SrcList, Qt::Key_Delete);
  QCOMPARE(Prompts.Messages.back().Text, QStringLiteral("确定要删除选中的3个书源吗？"));
  QCOMPARE(Rows(), 3);
  W->SelectSingleRow(1);
  QTest::keyClick(W->SrcList, Qt::Key_Delete);  // one source: no question
  QCOMPARE(Rows(), 2);
  QCOMPARE(W->windowTitle(), QStringLiteral("Tanvork - three.json *"));

  // Open, clear and close ask; Cancel keeps everything.
  const QString ask = QStringLiteral("书源列表已修改，是否先导出？");
  Prompts.Clear();
  Prompts.Install();
  Prompts.Answers = {QMessageBox::Cancel, QMessageBox::Cancel, QMessageBox::Cancel};
  Prompts.Files = {three};
  W->O1Click();
  Item(W->PopupMenu1, "C1")->trigger();
  QVERIFY(!W->close());
  QCOMPARE(Prompts.Messages.size(), size_t(3));
  for (const TMessageRequest& m : Prompts.Messages) QCOMPARE(m.Text, ask);
  QCOMPARE(Rows(), 2);
  QVERIFY(W->isVisible());
  QCOMPARE(Prompts.FileTitles.size(), size_t(0));

  // Export asks before replacing a file; Yes to "export first" exports, then clears.
  Prompts.Clear();
  Prompts.Install();
  Prompts.Answers = {QMessageBox::Yes, QMessageBox::No};
  Prompts.Files = {three};
  Item(W->PopupMenu1, "C1")->trigger();
  QCOMPARE(Prompts.Messages.size(), size_t(2));
  QCOMPARE(Prompts.Messages[1].Text, QStringLiteral("文件 %1 已存在，是否替换？").arg(three));
  QCOMPARE(Prompts.Messages[1].Default, QMessageBox::No);
  QCOMPARE(Rows(), 2);  // not exported, so not cleared
  QFile original(three);
  QVERIFY(original.open(QIODevice::ReadOnly));
  QCOMPARE(original.readAll(), kThree);
  const QString saved = FDir.filePath("saved.json");
  Prompts.Answers = {QMessageBox::Yes};
  Prompts.Files = {saved};
  Item(W->PopupMenu1, "C1")->trigger();
  QCOMPARE(Rows(), 0);
  QVERIFY(QFileInfo(saved).isFile());
  QCOMPARE(W->windowTitle(), QStringLiteral("Tanvork - saved.json *"));
  // Taken back, the list is again what was exported: closing asks nothing.
  Prompts.Clear();
  Prompts.Install();
  W->U1->trigger();
  QCOMPARE(Rows(), 2);
  QCOMPARE(W->windowTitle(), QStringLiteral("Tanvork - saved.json"));
  QVERIFY(W->close());
  QVERIFY(Prompts.Messages.empty());
}

// ---------------------------------------------------------------- 7. undo and redo

void TWorkSafetyTest::undoRedoEveryOperation_data() {
  QTest::addColumn<QString>("how");
  for (const char* how : {"delete", "clear", "open", "add", "drop", "copy and add", "editor save", "form OK",
                          "new source", "sort", "group rename", "duplicate removal", "check marks"})
    QTest::newRow(how) << QString::fromLatin1(how);
}

void TWorkSafetyTest::undoRedoEveryOperation() {
  QFETCH(QString, how);
  const std::string ok = FServers->Http.Url("/ok"), err = FServers->Http.Url("/err");
  AddFile(Fixture("run.json", SourcesJson({{"乙组", "乙", err.c_str()},
                                           {"甲组", "甲", ok.c_str()},
                                           {"甲组", "甲", ok.c_str()},
                                           {"", "丙", err.c_str()}})));
  ClickRow(1);
  const QByteArray before = Exported(*W, FDir);
  if (how == "delete") {
    W->SrcList->selectionModel()->select(W->SrcList->model()->index(3, 0), QItemSelectionModel::Select);
    QTest::keyClick(W->SrcList, Qt::Key_Delete);
  } else if (how == "clear") {
    Item(W->PopupMenu1, "C1")->trigger();
  } else if (how == "open" || how == "add") {
    Prompts.Files = {Fixture("other.json", SourcesJson({{"g", "外", "http://x/"}}))};
    how == "open" ? W->O1Click() : W->A2Click();
  } else if (how == "drop") {
    W->AddDroppedFiles({Fixture("d1.json", SourcesJson({{"g", "一", "http://x/1"}})),
                        Fixture("d2.json", SourcesJson({{"g", "二", "http://x/2"}}))});
  } else if (how == "copy and add") {
    Prompts.Inputs.push_back(QStringLiteral("副本"));
    Item(W->PopupMenu1, "C3")->trigger();
  } else if (how == "editor save") {
    W->EditData->setText(QStringLiteral(R"({"bookSourceName": "改", "bookSourceUrl": "http://y/"})"));
    SaveWithCtrlS(*W);
  } else if (how == "form OK" || how == "new source") {
    how == "form OK" ? W->E1Click() : W->N7Click();
    TfrmEditSource* D = W->EditorDialogs().back();
    D->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("表"));
    D->findChild<QLineEdit*>("Edit2")->setText(QStringLiteral("http://form/"));
    QTest::mouseClick(D->Button1, Qt::LeftButton);
  } else if (how == "sort") {
    Item(W->PopupMenu1, "S2")->trigger();
  } else if (how == "group rename") {
    WhenModal<TfrmReplaceGroup>([](TfrmReplaceGroup* D) {
      D->Edit1->setText(QStringLiteral("甲组"));
      D->Edit2->setText(QStringLiteral("丁组"));
      QTest::mouseClick(D->Button1, Qt::LeftButton);
    });
    W->H2Click();
  } else {
    W->CheckBox1->setChecked(how == "duplicate removal");
    W->CheckBox2->setChecked(how == "check marks");
    RunOnce(*W);
  }
  const QByteArray after = Exported(*W, FDir);
  QVERIFY(after != before);
  QVERIFY(Prompts.Errors().isEmpty());
  // Ctrl+Z and Ctrl+Y anywhere but the editor pane.
  CtrlKey(W->SrcList, Qt::Key_Z);
  QCOMPARE(Exported(*W, FDir), before);
  QCOMPARE(Status0(), QStringLiteral("书源总数：%1个, 当前: %1个").arg(Rows()));
  CtrlKey(W->SrcList, Qt::Key_Y);
  QCOMPARE(Exported(*W, FDir), after);
  W->U1->trigger();
  QCOMPARE(Exported(*W, FDir), before);
  W->Y1->trigger();
  QCOMPARE(Exported(*W, FDir), after);
}

void TWorkSafetyTest::undoKeysInTheEditorPaneUndoTyping() {
  AddFile(Fixture("three.json", kThree));
  const QList<QAction*> menus = W->menuBar()->actions();
  QCOMPARE(menus[1]->menu()->actions()[0], W->U1);
  QCOMPARE(W->U1->text(), QStringLiteral("撤销(&U)"));
  QCOMPARE(W->U1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
  QCOMPARE(W->Y1->text(), QStringLiteral("重做(&R)"));
  QCOMPARE(W->Y1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Y));
  Item(W->PopupMenu1, "S2")->trigger();
  const QByteArray sorted = Exported(*W, FDir);
  ClickRow(0);
  const QString loaded = W->EditData->text();
  W->EditData->setFocus();
  W->EditData->setCursorPosition(1, 4);
  QTest::keyClicks(W->EditData, "xy");
  QVERIFY(W->EditData->text() != loaded);
  CtrlKey(W->EditData, Qt::Key_Z);
  QCOMPARE(W->EditData->text(), loaded);
  QCOMPARE(Exported(*W, FDir), sorted);  // the sort stays
  // The menu names what it takes back.
  emit menus[1]->menu()->aboutToShow();
  QVERIFY(W->U1->isEnabled());
  QCOMPARE(W->U1->text(), QStringLiteral("撤销(&U) 排序 - 书源名称"));
  QVERIFY(!W->Y1->isEnabled());
  emit menus[1]->menu()->aboutToHide();
}

// ---------------------------------------------------------------- 8. progress

void TWorkSafetyTest::progressNeverPassesTheTotal() {
  auto* window = new TProgressWindow();
  W.reset(window);
  W->show();
  QVERIFY(QTest::qWaitForWindowExposed(W.get()));
  const std::string slow = FServers->Http.Url("/slow");
  std::vector<std::array<const char*, 3>> sources;
  std::vector<std::string> names;
  for (int i = 0; i < 24; ++i) names.push_back("s" + std::to_string(i));
  for (const std::string& name : names) sources.push_back({"g", name.c_str(), slow.c_str()});
  AddFile(Fixture("slow.json", SourcesJson(sources)));
  W->CheckBox1->setChecked(false);
  W->CheckBox2->setChecked(true);
  W->Edit1->setText(QStringLiteral("5"));  // four check jobs: six rounds
  RunOnce(*W);
  int shown = 0;
  for (const TProgressWindow::TStep& step : window->Steps) {
    if (step.Max != 24) continue;
    ++shown;
    QVERIFY2(step.Position <= step.Max, qPrintable(QString("%1/%2").arg(step.Position).arg(step.Max)));
    // The bar shows what is done, not what was handed out.
    QVERIFY2(step.Position <= step.Settled,
             qPrintable(QString("%1 shown, %2 settled").arg(step.Position).arg(step.Settled)));
  }
  QVERIFY(shown >= 3);
}

// ---------------------------------------------------------------- 9. help

void TWorkSafetyTest::guideIsBuiltInAndAboutShowsTheVersion() {
  W->I1Click();
  QCOMPARE(Prompts.Messages.back().Title, QStringLiteral("关于我"));
  const QStringList about = Prompts.Messages.back().Text.split('\n');
  QCOMPARE(about.size(), 2);
  QCOMPARE(about[0], QStringLiteral("Tanvork"));
  QVERIFY2(about[1].contains(QStringLiteral(TANVORK_VERSION)), qPrintable(about[1]));

  W->R2Click();
  auto* guide = W->findChild<TfrmGuide*>();
  QVERIFY(guide);
  QVERIFY(QTest::qWaitForWindowExposed(guide));
  QCOMPARE(guide->windowTitle(), QStringLiteral("用户指南"));
  QVERIFY(guide->Browser->isReadOnly());
  QCOMPARE(guide->Browser->source().scheme(), QStringLiteral("qrc"));
  QFile shipped(QStringLiteral(TANVORK_SOURCE_DIR "/docs/USER_GUIDE.md"));
  QVERIFY(shipped.open(QIODevice::ReadOnly));
  const QString firstHeading = QString::fromUtf8(shipped.readLine()).remove(QLatin1Char('#')).trimmed();
  QVERIFY(guide->Browser->toPlainText().startsWith(firstHeading));
  QVERIFY(!guide->Browser->toPlainText().contains(QStringLiteral("## ")));  // rendered, not shown as source
  // Its picture comes from the program too.
  QVERIFY(!guide->Browser->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("screenshot.png"))).isNull());
  // A second call shows the same window.
  W->R2Click();
  QCOMPARE(W->findChildren<TfrmGuide*>().size(), 1);
  // Nothing was handed to an outside viewer, nothing failed.
  QVERIFY(Prompts.Urls.empty());
  QVERIFY(Prompts.Errors().isEmpty());
  W->W2Click();
  QCOMPARE(Prompts.Urls.size(), size_t(1));
  QVERIFY(Prompts.Urls[0].startsWith(QStringLiteral("https://")));
}
