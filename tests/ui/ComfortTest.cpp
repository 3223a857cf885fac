// The window's comfort: the table view, what the log says after each
// operation, the test on the worker pool, the group drop-down, keys and
// dialogs, the remembered settings, messages that name their cause.
#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <chrono>
#include <thread>

#include "HttpTestServers.h"
#include "UiTestSuites.h"
#include "json/KivJson.h"
#include "ui/uFrmEditSource.h"
#include "ui/uFrmWait.h"
#include "ui/uUiPrompts.h"

struct TComfortTest::TServers {
  TLocalHttpServer Http;
};

void TComfortTest::initTestCase() {
  ClearProxyEnvironment();
  FServers = new TServers;
  auto& s = FServers->Http.Server();
  s.Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    res.set_content("ok", "text/plain");
  });
  FServers->Http.Start();
}

void TComfortTest::cleanupTestCase() { delete FServers; }

namespace {

// Sorting needs each column to tell the sources apart.
const QByteArray kMixed = R"([
 {"bookSourceGroup": "优", "bookSourceName": "乙", "bookSourceUrl": "http://b.example/", "enable": false,
  "ruleSearchUrl": "http://b.example/s?q=searchKey"},
 {"bookSourceGroup": "普通", "bookSourceName": "甲", "bookSourceUrl": "http://c.example/",
  "searchUrl": "http://c.example/s?k={{key}}", "ruleSearch": {"bookList": "li"}},
 {"bookSourceGroup": "优,普通", "bookSourceName": "丙普通版", "bookSourceUrl": "http://a.example/"},
 {"bookSourceGroup": "其他", "bookSourceName": "普通精选", "bookSourceUrl": "http://d.example/"}
])";

QStringList Column(TForm1& W, int AColumn) {
  QStringList out;
  for (int r = 0; r < W.FListModel->rowCount(); ++r) out << W.FListModel->index(r, AColumn).data().toString();
  return out;
}

QAction* Item(QObject* AOwner, const char* AName) { return AOwner->findChild<QAction*>(AName); }

}  // namespace

// ---------------------------------------------------------------- the table view

void TComfortTest::tableSortsTheViewByEachColumn_data() {
  QTest::addColumn<int>("column");
  QTest::addColumn<bool>("descending");
  QTest::addColumn<QStringList>("names");
  const int name = TSourceTableModel::ColumnOf(vcName), group = TSourceTableModel::ColumnOf(vcGroup),
            url = TSourceTableModel::ColumnOf(vcUrl), format = TSourceTableModel::ColumnOf(vcFormat),
            enabled = TSourceTableModel::ColumnOf(vcEnabled);
  // Code-point order: 丙 U+4E19 < 乙 U+4E59 < 普 U+666E < 甲 U+7532.
  QTest::newRow("name") << name << false << QStringList{"丙普通版", "乙", "普通精选", "甲"};
  QTest::newRow("name, down") << name << true << QStringList{"甲", "普通精选", "乙", "丙普通版"};
  QTest::newRow("group") << group << false << QStringList{"乙", "丙普通版", "普通精选", "甲"};
  QTest::newRow("address") << url << false << QStringList{"丙普通版", "乙", "甲", "普通精选"};
  // Format 2, then 3, then sources of neither; equal keys keep the collection's order.
  QTest::newRow("format") << format << false << QStringList{"乙", "甲", "丙普通版", "普通精选"};
  QTest::newRow("format, down") << format << true << QStringList{"丙普通版", "普通精选", "甲", "乙"};
  QTest::newRow("enabled") << enabled << false << QStringList{"乙", "甲", "丙普通版", "普通精选"};
}

void TComfortTest::tableSortsTheViewByEachColumn() {
  QFETCH(int, column);
  QFETCH(bool, descending);
  QFETCH(QStringList, names);
  AddFile(Fixture("mixed.json", kMixed));
  Item(W.get(), "ViewTable")->trigger();
  QVERIFY(W->TableViewShown());
  QVERIFY(W->SrcTable->isVisible());
  QHeaderView* header = W->SrcTable->horizontalHeader();
  header->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
  QCOMPARE(Column(*W, TSourceTableModel::ColumnOf(vcName)), names);
  // The list shows the same rows in the same order.
  QCOMPARE(RowText(0), QStringLiteral("【%1】%2").arg(Column(*W, TSourceTableModel::ColumnOf(vcGroup))[0], names[0]));
  // The collection keeps its order: the list's own sort drops the view's.
  QCOMPARE(W->Logic().Sources().Count(), 4);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  QCOMPARE(Column(*W, TSourceTableModel::ColumnOf(vcName)), (QStringList{"乙", "甲", "丙普通版", "普通精选"}));
}

void TComfortTest::bothViewsShareRowsAndSelection() {
  AddFile(Fixture("mixed.json", kMixed));
  ClickRow(1);
  QCOMPARE(W->EditData->text().contains(QStringLiteral("\"甲\"")), true);
  W->SrcList->selectionModel()->select(W->FListModel->index(3, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
  W->SetTableView(true);
  QCOMPARE(W->SrcTable->model()->rowCount(), Rows());
  QCOMPARE(W->GetCurrentRow(), 1);
  QVERIFY(W->IsRowSelected(1) && W->IsRowSelected(3) && !W->IsRowSelected(0));
  // A click in the table moves the editor as a click in the list does.
  const QModelIndex cell = W->FListModel->index(2, TSourceTableModel::ColumnOf(vcUrl));
  QTest::mouseClick(W->SrcTable->viewport(), Qt::LeftButton, {}, W->SrcTable->visualRect(cell).center());
  QCOMPARE(W->GetCurrentRow(), 2);
  QVERIFY(W->EditData->text().contains(QStringLiteral("丙普通版")));
  W->SetTableView(false);
  QCOMPARE(W->GetCurrentRow(), 2);
  QVERIFY(W->IsRowSelected(2));
  // Delete in the table removes what is selected there.
  W->SetTableView(true);
  W->SrcTable->setFocus();
  QTest::keyClick(W->SrcTable, Qt::Key_Delete);
  QCOMPARE(Rows(), 3);
  QVERIFY(!W->Logic().CellText(0, vcName).empty());
  // A row's hint: the full name and address.
  QCOMPARE(W->FListModel->index(0, 3).data(Qt::ToolTipRole).toString(), QStringLiteral("乙\nhttp://b.example/"));
  QCOMPARE(W->FListModel->index(0, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("乙\nhttp://b.example/"));
}

// ---------------------------------------------------------------- what the log says

void TComfortTest::everyOperationSaysWhatHappened_data() {
  QTest::addColumn<QString>("operation");
  QTest::addColumn<QString>("line");
  QTest::newRow("load") << "load" << "已载入 2 个书源，来自 .*skip\\.json；跳过 3 个元素（2 个没有bookSourceUrl，1 个不是JSON对象）";
  QTest::newRow("export") << "export" << "已导出 2 个书源到 .*out\\.json";
  QTest::newRow("delete") << "delete" << "已删除 1 个书源";
  QTest::newRow("rename") << "rename" << "分组名称替换: g → h，改动了 2 个书源";
  QTest::newRow("copy") << "copy" << "已新增书源: 副本";
}

void TComfortTest::everyOperationSaysWhatHappened() {
  QFETCH(QString, operation);
  QFETCH(QString, line);
  AddFile(Fixture("skip.json", R"([{"bookSourceGroup": "g", "bookSourceName": "一", "bookSourceUrl": "http://a/"},
    {"bookSourceName": "无址"}, 7, {"bookSourceUrl": ""},
    {"bookSourceGroup": "g", "bookSourceName": "二", "bookSourceUrl": "http://b/"}])"));
  if (operation == "export") {
    Prompts.Files.push_back(FDir.filePath("out.json"));
    W->E2Click();
  } else if (operation == "delete") {
    ClickRow(0);
    W->D1Click();
  } else if (operation == "rename") {
    W->Logic().ReplaceGroups({u"g", u"h", true});
  } else if (operation == "copy") {
    ClickRow(0);
    Prompts.Inputs.push_back(QStringLiteral("副本"));
    W->C3Click();
  }
  const QStringList lines = LogText().split('\n', Qt::SkipEmptyParts);
  QVERIFY(!lines.isEmpty());
  const QRegularExpression expected("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] " + line + "$");
  QVERIFY2(expected.match(lines.back()).hasMatch(), qPrintable(lines.back()));
  // The status bar says it too.
  QVERIFY2(QRegularExpression("^" + line).match(W->StatusPanel1->text()).hasMatch(),
           qPrintable(W->StatusPanel1->text()));
}

void TComfortTest::runSaysItsCountsAndTheTableShowsVerdicts() {
  const QByteArray ok = QByteArray::fromStdString(FServers->Http.Url("/ok"));
  AddFile(Fixture("run.json", "[{\"bookSourceName\": \"活\", \"bookSourceUrl\": \"" + ok +
                                  "\"}, {\"bookSourceName\": \"活\", \"bookSourceUrl\": \"" + ok +
                                  "\"}, {\"bookSourceName\": \"死\", \"bookSourceUrl\": \"http://127.0.0.1:1/\"}]"));
  W->CheckBox1->setChecked(true);
  W->CheckBox2->setChecked(true);
  W->Button1Click();  // modal until the run has ended
  QTRY_VERIFY(LogText().contains(QStringLiteral("校验结果")));
  const QString log = LogText();
  QVERIFY2(log.contains(QStringLiteral("去除重复: 删除了 1 个重复书源")), qPrintable(log));
  QVERIFY2(QRegularExpression(QStringLiteral("校验结果: 有效 1, 失效 1, 受阻 0, 无法校验 0; 用时 \\d+\\.\\d 秒"))
               .match(log)
               .hasMatch(),
           qPrintable(log));
  QVERIFY(!log.contains(QStringLiteral("已停止")));
  W->SetTableView(true);
  const QStringList verdicts = Column(*W, TSourceTableModel::ColumnOf(vcVerdict));
  QCOMPARE(verdicts, (QStringList{"有效", "失效"}));
  QCOMPARE(Column(*W, TSourceTableModel::ColumnOf(vcReason))[0], QStringLiteral("ok"));
  bool number = false;
  Column(*W, TSourceTableModel::ColumnOf(vcElapsed))[0].toInt(&number);
  QVERIFY(number);
  // Sorting by the verdict puts the dead one first (dead < alive).
  W->SrcTable->horizontalHeader()->setSortIndicator(TSourceTableModel::ColumnOf(vcVerdict), Qt::AscendingOrder);
  QCOMPARE(Column(*W, TSourceTableModel::ColumnOf(vcName)), (QStringList{"死", "活"}));
}

void TComfortTest::stoppedRunSaysHowFarItCame() {
  QByteArray sources = "[";
  const QByteArray slow = QByteArray::fromStdString(FServers->Http.Url("/slow"));
  for (int i = 0; i < 6; ++i)
    sources += QByteArray(i ? "," : "") + "{\"bookSourceName\": \"s" + QByteArray::number(i) +
               "\", \"bookSourceUrl\": \"" + slow + "?" + QByteArray::number(i) + "\"}";
  AddFile(Fixture("slow.json", sources + "]"));
  W->CheckBox1->setChecked(false);
  W->CheckBox2->setChecked(true);
  W->Edit1->setText(QStringLiteral("3"));
  QString waitText;
  // Cancel as soon as the wait dialog is up; it shows that it stops.
  QTimer::singleShot(300, W.get(), [&] {
    if (TForm2* wait = TForm2::Current()) {
      wait->Button1Click();
      waitText = wait->Label1->text();
    }
  });
  W->Button1Click();
  QCOMPARE(waitText, QStringLiteral("正在停止..."));
  QTRY_VERIFY(LogText().contains(QStringLiteral("已停止")));
  const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("已停止，已处理 (\\d+)/6")).match(LogText());
  QVERIFY2(m.hasMatch(), qPrintable(LogText()));
  QVERIFY(m.captured(1).toInt() < 6);
  QVERIFY(LogText().contains(QStringLiteral("任务结束")));
}

// ---------------------------------------------------------------- the test on the pool

void TComfortTest::testRunsOnThePoolAndASecondPressCancels() {
  const QString slow = QString::fromStdString(FServers->Http.Url("/slow"));
  W->EditData->setText(QStringLiteral("{\"bookSourceName\": \"慢\", \"bookSourceUrl\": \"%1\"}").arg(slow));
  // F5 is a key of the window: it must be the active one.
  W->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(W.get()));
  QTest::keyClick(W.get(), Qt::Key_F5);
  QVERIFY(W->TestRunning());
  QCOMPARE(W->T1->text(), QStringLiteral("停止测试(&T)"));
  // The window answers meanwhile.
  QTest::keyClicks(W->bookGroupList->lineEdit(), "x");
  QCOMPARE(W->bookGroupList->currentText(), QStringLiteral("x"));
  W->T1->trigger();
  QVERIFY(!W->TestRunning());
  QVERIFY(LogText().contains(QStringLiteral("测试已取消")));
  // Nothing of the cancelled test arrives later.
  QTest::qWait(1800);
  QVERIFY(!LogText().contains(QStringLiteral("连接成功")));

  // A test that runs to its end writes its lines and its verdict.
  W->EditData->setText(
      QStringLiteral("{\"bookSourceName\": \"好\", \"bookSourceUrl\": \"%1\"}").arg(QString::fromStdString(FServers->Http.Url("/ok"))));
  W->T1->trigger();
  QTRY_VERIFY(!W->TestRunning());
  QVERIFY(LogText().contains(QStringLiteral("书源URL连接成功.")));
  QVERIFY(LogText().contains(QStringLiteral("恭喜, 检测通过!")));
}

void TComfortTest::networkFailureNamesItsCause() {
  W->EditData->setText(QStringLiteral(R"({"bookSourceName": "断", "bookSourceUrl": "http://127.0.0.1:1/"})"));
  W->T1->trigger();
  QTRY_VERIFY(!W->TestRunning());
  QCOMPARE(Prompts.Errors().size(), 1);
  // The program's wording first, then the transport's code and text.
  QVERIFY2(QRegularExpression(QStringLiteral("^书源URL测试出错\\(.*\\(7\\) .+\\)\\.$")).match(Prompts.Errors()[0]).hasMatch(),
           qPrintable(Prompts.Errors()[0]));
}

// ---------------------------------------------------------------- groups

void TComfortTest::groupsWithCountsAndExactPicks() {
  AddFile(Fixture("mixed.json", kMixed));
  QComboBox* box = W->bookGroupList;
  QCOMPARE(box->itemText(0), QStringLiteral("全部"));
  QStringList captions;
  for (int i = 0; i < box->count(); ++i) captions << W->GroupItemCaption(i);
  captions.sort();
  QCOMPARE(captions, (QStringList{"优 (2)", "全部", "其他 (1)", "普通 (2)"}));
  // Typing filters by substring: the name 普通精选 and 丙普通版 match too.
  box->lineEdit()->setText(QStringLiteral("普通"));
  QCOMPARE(Rows(), 3);
  box->lineEdit()->clear();
  // Picking shows exactly the sources carrying the group.
  box->setCurrentIndex(box->findText(QStringLiteral("普通")));
  QCOMPARE(Rows(), 2);
  QCOMPARE(Status0(), QStringLiteral("书源总数：4个, 当前: 2个"));
  box->setCurrentIndex(0);
  QCOMPARE(box->currentText(), QString());
  QCOMPARE(Rows(), 4);
}

void TComfortTest::filterChangeScrollsToTopAndTheFirstClickWorks() {
  std::vector<std::array<const char*, 3>> many;
  static std::vector<QByteArray> names;
  names.clear();
  for (int i = 0; i < 300; ++i) names.push_back("n" + QByteArray::number(i));
  for (int i = 0; i < 300; ++i) many.push_back({i % 2 ? "a" : "b", names[size_t(i)].constData(), "http://x/"});
  AddFile(Fixture("many.json", SourcesJson(many)));
  for (bool table : {false, true}) {
    W->SetTableView(table);
    QScrollBar* bar = W->CurrentView()->verticalScrollBar();
    W->CurrentView()->scrollToBottom();
    QTRY_VERIFY(bar->value() > 0);
    QTest::keyClicks(W->bookGroupList->lineEdit(), "n1");
    QCOMPARE(bar->value(), 0);
    const QModelIndex first = W->FListModel->index(0, table ? 1 : 0);
    QTest::mouseClick(W->CurrentView()->viewport(), Qt::LeftButton, {}, W->CurrentView()->visualRect(first).center());
    QCOMPARE(W->GetCurrentRow(), 0);
    QVERIFY(W->EditData->text().contains(QStringLiteral("\"n1\"")));
    W->bookGroupList->lineEdit()->clear();
  }
}

// ---------------------------------------------------------------- keys and dialogs

void TComfortTest::menusShowTheirKeys_data() {
  QTest::addColumn<QString>("action");
  QTest::addColumn<QString>("keys");
  QTest::newRow("open") << "O1" << "Ctrl+O";
  QTest::newRow("add") << "A2" << "Ctrl+Shift+O";
  QTest::newRow("export") << "E2" << "Ctrl+E";
  QTest::newRow("filter") << "L1" << "Ctrl+F";
  QTest::newRow("test") << "T1" << "F5";
  QTest::newRow("form") << "E1" << "F2";
  QTest::newRow("delete") << "D1" << "Del";
}

void TComfortTest::menusShowTheirKeys() {
  QFETCH(QString, action);
  QFETCH(QString, keys);
  QAction* item = W->findChild<QAction*>(action);
  QVERIFY(item);
  QCOMPARE(item->shortcut().toString(), keys);
}

void TComfortTest::keysMoveAndAct() {
  AddFile(Fixture("mixed.json", kMixed));
  W->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(W.get()));
  // Ctrl+F to the filter; Ctrl+Tab out of the editor pane, to the list.
  W->EditData->setFocus();
  QTest::keyClick(W.get(), Qt::Key_F, Qt::ControlModifier);
  QVERIFY(W->bookGroupList->lineEdit()->hasFocus());
  W->EditData->setFocus();
  QTRY_VERIFY(W->EditData->hasFocus());
  QTest::keyClick(W->EditData, Qt::Key_Tab, Qt::ControlModifier);
  QVERIFY(W->SrcList->hasFocus());
  QVERIFY(!W->EditData->text().contains('\t'));
  // F2 edits the current row in the form.
  ClickRow(1);
  QTest::keyClick(W->SrcList, Qt::Key_F2);
  QCOMPARE(W->EditorDialogs().size(), size_t(1));
  QCOMPARE(W->EditorDialogs()[0]->Data(), W->Logic().SourceOfRow(1));
  // Delete in the editor pane deletes text, not sources.
  W->EditData->setFocus();
  QTest::keyClick(W->EditData, Qt::Key_Delete);
  QCOMPARE(Rows(), 4);
}

void TComfortTest::workerCountIsOneToAThousand_data() {
  QTest::addColumn<QString>("typed");
  QTest::newRow("zero") << "0";
  QTest::newRow("empty") << "";
  QTest::newRow("too many") << "1001";
}

void TComfortTest::workerCountIsOneToAThousand() {
  QFETCH(QString, typed);
  W->Edit1->setText(typed);
  W->Button1Click();
  QCOMPARE(W->Logic().RunState(), int(rsIdle));
  QCOMPARE(Prompts.Messages.size(), size_t(1));
  QCOMPARE(Prompts.Messages[0].Text, QStringLiteral("工作线程数应为 1 到 1000 之间的整数。"));
  // Five digits cannot even be typed.
  W->Edit1->clear();
  QTest::keyClicks(W->Edit1, "12345");
  QCOMPARE(W->Edit1->text(), QStringLiteral("1234"));
}

void TComfortTest::fileDialogsOfferTextFilesAndStartInTheLastFolder() {
  const QString path = Fixture("one.json", SourcesJson({{"g", "一", "http://a/"}}));
  Prompts.Files.push_back(path);
  W->O1Click();
  QCOMPARE(TForm1::LastFolder(), QFileInfo(path).absolutePath());
  TUiPrompts::FileHook = nullptr;
  QStringList filters;
  QString folder;
  WhenModal<QFileDialog>([&](QFileDialog* D) {
    filters = D->nameFilters();
    folder = D->directory().absolutePath();
    D->reject();
  });
  W->A2Click();
  QCOMPARE(filters.value(0), QStringLiteral("书源文件 (*.json *.txt)"));
  QCOMPARE(folder, QFileInfo(path).absolutePath());
}

void TComfortTest::qtSpeaksChinese() {
  QVERIFY(InstallQtTranslations());
  QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}

// ---------------------------------------------------------------- remembered settings

void TComfortTest::settingsOutliveTheWindowButNotTheCollection() {
  const QString path = Fixture("one.json", SourcesJson({{"g", "一", "http://a/"}}));
  Prompts.Files.push_back(path);
  W->O1Click();
  QCOMPARE(Rows(), 1);
  W->SetTableView(true);
  W->resize(1300, 700);
  W->Splitter1->setSizes({420, 476});
  W->Edit1->setText(QStringLiteral("12"));
  W->CheckBox1->setChecked(false);
  W->CheckBox2->setChecked(true);
  const QList<int> split = W->Splitter1->sizes();
  QVERIFY(W->close());
  W.reset();
  W = std::make_unique<TForm1>();
  W->show();
  QVERIFY(QTest::qWaitForWindowExposed(W.get()));
  QVERIFY(W->TableViewShown());
  QCOMPARE(W->size(), QSize(1300, 700));
  QCOMPARE(W->Splitter1->sizes(), split);
  QCOMPARE(W->Edit1->text(), QStringLiteral("12"));
  QVERIFY(!W->CheckBox1->isChecked());
  QVERIFY(W->CheckBox2->isChecked());
  QCOMPARE(Rows(), 0);
  // The file opened is first in 最近打开, and opening it from there loads it.
  QCOMPARE(W->RecentFiles().value(0), QFileInfo(path).absoluteFilePath());
  QVERIFY(!W->RecentMenu->actions().isEmpty());
  W->RecentMenu->actions().first()->trigger();
  QCOMPARE(Rows(), 1);
  // A file gone since leaves the list with a word why.
  W->OpenRecentFile(FDir.filePath("gone.json"));
  QVERIFY(Prompts.Errors().last().contains(QStringLiteral("gone.json")));
}

// ---------------------------------------------------------------- messages

void TComfortTest::fileThatIsNotJsonIsNamed() {
  const QString path = Fixture("notes.txt", "these are notes, not sources");
  Prompts.Files.push_back(path);
  W->A2Click();
  QCOMPARE(Prompts.Errors().size(), 1);
  // The parser's words first, then the file.
  QVERIFY2(Prompts.Errors()[0].startsWith(QStringLiteral("第1行第1列: ")), qPrintable(Prompts.Errors()[0]));
  QVERIFY2(Prompts.Errors()[0].endsWith(QStringLiteral("文件: ") + path), qPrintable(Prompts.Errors()[0]));
  // Dropped files too.
  W->AddDroppedFiles({path});
  QCOMPARE(Prompts.Errors().size(), 2);
  QVERIFY(Prompts.Errors()[1].endsWith(QStringLiteral("文件: ") + path));
}
