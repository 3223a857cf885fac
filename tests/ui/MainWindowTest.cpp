#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "UiTestSuites.h"
#include "json/KivJson.h"
#include "ui/uFrmEditSource.h"

// ---------------------------------------------------------------- fixture

void TWindowFixture::OpenWindow() {
  Prompts.Clear();
  Prompts.Install();
  // Each window starts from the defaults.
  QSettings().clear();
  W = std::make_unique<TForm1>();
  W->show();
  QVERIFY(QTest::qWaitForWindowExposed(W.get()));
}

void TWindowFixture::CloseWindow() {
  W.reset();
  TPromptRecorder::Uninstall();
}

int TWindowFixture::Rows() const { return W->SrcList->model()->rowCount(); }

QString TWindowFixture::RowText(int ARow) const {
  return W->SrcList->model()->index(ARow, 0).data().toString();
}

QString TWindowFixture::Status0() const { return W->StatusPanel0->text(); }
QString TWindowFixture::LogText() const { return W->edtLog->text(); }

void TWindowFixture::ClickRow(int ARow) {
  const QModelIndex index = W->SrcList->model()->index(ARow, 0);
  W->SrcList->scrollTo(index);
  QTest::mouseClick(W->SrcList->viewport(), Qt::LeftButton, {}, W->SrcList->visualRect(index).center());
}

void TWindowFixture::AddFile(const QString& APath) {
  Prompts.Files.push_back(APath);
  W->A2Click();
}

String TWindowFixture::SourceJson(int ARow) {
  JSONObject* source = W->Logic().SourceOfRow(ARow);
  return source ? source->ToString() : String();
}

namespace {

QStringList Captions(const QMenu* AMenu) {
  QStringList out;
  for (const QAction* a : AMenu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
  return out;
}

QAction* Item(QObject* AMenu, const char* AName) { return AMenu->findChild<QAction*>(AName); }

const QByteArray kThree = SourcesJson({{"VIP书源", "甲", "http://127.0.0.1:1/a"},
                                       {"普通", "vip精选", "http://127.0.0.1:1/b"},
                                       {"普通", "乙", "http://127.0.0.1:1/c"}});

// As a user would: the path typed into the name box, then accepted.
void TypeFileName(QFileDialog* D, const QString& APath) {
  auto* name = D->findChild<QLineEdit*>("fileNameEdit");
  QVERIFY(name);
  name->setText(APath);
  QMetaObject::invokeMethod(D, "accept");
}

void SendDrop(QWidget* ATarget, const QStringList& AFiles) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& f : AFiles) urls << QUrl::fromLocalFile(f);
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(ATarget, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(ATarget, &drop);
  // The drop is finished (and its data may go) before anything is loaded.
  QVERIFY(drop.isAccepted());
  QCOMPARE(drop.dropAction(), Qt::CopyAction);
}

}  // namespace

// ---------------------------------------------------------------- start-up and layout

void TMainWindowTest::startsEmptyWithItsControls() {
  QCOMPARE(W->windowTitle(), QStringLiteral("Tanvork"));
  QCOMPARE(QApplication::applicationName(), QStringLiteral("Tanvork"));
  // The first showing refreshed the empty list.
  QCOMPARE(Status0(), QStringLiteral("书源总数：0个, 当前: 0个"));
  QVERIFY(W->StaticText1->isVisible());
  QCOMPARE(W->StaticText1->text(), QStringLiteral("鼠标拖入书源文件到此处"));
  QCOMPARE(W->SrcList->toolTip(), QStringLiteral("将书源文件拖入此处"));
  QVERIFY(!W->ProgressBar1->isVisible());
  QVERIFY(W->Timer1->isActive());
  QCOMPARE(W->Timer1->interval(), 100);
  QCOMPARE(W->Edit1->text(), QStringLiteral("60"));
  QVERIFY(W->CheckBox1->isChecked());
  QVERIFY(W->CheckBox3->isChecked());
  QVERIFY(!W->CheckBox2->isChecked());
  QCOMPARE(W->Button1->text(), QStringLiteral("开始处理(&B)"));
  QVERIFY(W->edtLog->isReadOnly());
  QCOMPARE(W->SrcList->selectionMode(), QAbstractItemView::ExtendedSelection);
  // Digits only in the worker count.
  W->Edit1->clear();
  QTest::keyClicks(W->Edit1, "a1-2");
  QCOMPARE(W->Edit1->text(), QStringLiteral("12"));
  for (const char* name : {"SrcList", "bookGroupList", "EditData", "edtLog", "Button1", "Edit1", "CheckBox1",
                           "CheckBox2", "CheckBox3", "StatusBar1", "ProgressBar1", "Timer1", "StaticText1",
                           "SpeedButton1", "Panel1", "Panel3", "Panel4", "Panel5", "lbCount", "Splitter1",
                           "Splitter2", "PopupMenu1", "PopupMenu2"})
    QVERIFY2(W->findChild<QObject*>(name), name);
}

void TMainWindowTest::menusCarryTheirCaptions() {
  QStringList bar;
  for (QAction* a : W->menuBar()->actions()) bar << a->text();
  QCOMPARE(bar, (QStringList{"文件(&F)", "编辑(&E)", "视图(&V)", "帮助(&H)"}));
  const QList<QAction*> top = W->menuBar()->actions();
  QCOMPARE(Captions(top[0]->menu()),
           (QStringList{"打开书源文件(&O)...", "添加书源文件(&A)...", "从网址导入(&U)...", "最近打开(&J)", "-",
                        "新建书源(&N)...", "-", "导出书源文件(&E)...", "导出校验报告...", "-", "合并书源文件(&M)..."}));
  QCOMPARE(Captions(top[1]->menu()),
           (QStringList{"撤销(&U)", "重做(&R)", "-", "分组名称替换(&H)...", "查找重复书源(&F)...", "转换为新格式(&V)", "-",
                        "转到筛选框(&L)"}));
  QCOMPARE(Captions(top[2]->menu()), (QStringList{"列表(&L)", "表格(&T)"}));
  const QStringList help = Captions(top[3]->menu());
  QCOMPARE(help.size(), 4);
  QCOMPARE(help.mid(0, 3), (QStringList{"关于(&I)", "-", "作者博客(&W)"}));
  QVERIFY(help[3].contains("&R"));
  QCOMPARE(Captions(W->PopupMenu1),
           (QStringList{"复制新增(&A)", "新建书源(&N)...", "编辑书源(&E)...", "-", "排序 - 书源名称(&S)",
                        "排序 - 分组(&G)", "-", "分组名称替换(&H)...", "-", "删除选中项(&D)", "清空(&C)"}));
  QCOMPARE(Captions(W->PopupMenu2),
           (QStringList{"保存修改(&S)", "测试书源(&T)", "-", "撤消(&R)", "重做(&Z)", "-", "复制(&C)", "剪切(&X)",
                        "粘贴(&P)", "-", "全选(&A)", "-", "自动换行(&W)"}));
  QCOMPARE(W->S1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
}

// ---------------------------------------------------------------- loading

void TMainWindowTest::openAddThroughTheRealFileDialog() {
  const QString path = Fixture("three.json", kThree);
  // The dialog itself, not the hook: it must be a widget the test can reach.
  TUiPrompts::FileHook = nullptr;
  QString title;
  WhenModal<QFileDialog>([&](QFileDialog* D) {
    title = D->windowTitle();
    QVERIFY(D->testOption(QFileDialog::DontUseNativeDialog));
    TypeFileName(D, path);
  });
  W->O1Click();
  QCOMPARE(title, QStringLiteral("打开书源文件"));
  QCOMPARE(Rows(), 3);
  QCOMPARE(RowText(0), QStringLiteral("【VIP书源】甲"));
  QCOMPARE(Status0(), QStringLiteral("书源总数：3个, 当前: 3个"));
  QVERIFY(!W->StaticText1->isVisible());
  QVERIFY(W->SrcList->toolTip().isEmpty());

  WhenModal<QFileDialog>([&](QFileDialog* D) {
    title = D->windowTitle();
    TypeFileName(D, path);
  });
  W->A2Click();
  QCOMPARE(title, QStringLiteral("添加书源文件"));
  QCOMPARE(Status0(), QStringLiteral("书源总数：6个, 当前: 6个"));
  // 全部, then each group once in the filter box.
  QCOMPARE(W->bookGroupList->count(), 3);
  QVERIFY(Prompts.Errors().isEmpty());
}

void TMainWindowTest::openReplacesAndFailingOpenKeepsNothingMerged() {
  AddFile(Fixture("three.json", kThree));
  QCOMPARE(Rows(), 3);
  Prompts.Files.push_back(Fixture("one.json", SourcesJson({{"g", "only", "http://x/"}})));
  W->O1Click();
  QCOMPARE(Rows(), 1);
  QCOMPARE(RowText(0), QStringLiteral("【g】only"));
  Prompts.Files.push_back(Fixture("bad.json", "[{\"bookSourceUrl\": }"));
  W->O1Click();
  QCOMPARE(Prompts.Errors().size(), 1);
  QCOMPARE(Status0(), QStringLiteral("书源总数：%1个, 当前: %1个").arg(Rows()));
}

void TMainWindowTest::filterTypingAndPicking() {
  AddFile(Fixture("three.json", kThree));
  QLineEdit* edit = W->bookGroupList->lineEdit();
  QTest::keyClicks(edit, "vip");
  QCOMPARE(edit->text(), QStringLiteral("vip"));  // no completion typed for the user
  QCOMPARE(Rows(), 2);
  QCOMPARE(RowText(0), QStringLiteral("【VIP书源】甲"));
  QCOMPARE(RowText(1), QStringLiteral("【普通】vip精选"));
  QCOMPARE(Status0(), QStringLiteral("书源总数：3个, 当前: 2个"));
  for (int i = 0; i < 3; ++i) QTest::keyClick(edit, Qt::Key_Backspace);
  QCOMPARE(Rows(), 3);
  const int pick = W->bookGroupList->findText(QStringLiteral("普通"));
  QVERIFY(pick >= 0);
  W->bookGroupList->setCurrentIndex(pick);
  QCOMPARE(Rows(), 2);
  QCOMPARE(W->bookGroupList->currentText(), QStringLiteral("普通"));
}

// ---------------------------------------------------------------- editor pane

void TMainWindowTest::editorMenuStatesAndCtrlS() {
  AddFile(Fixture("three.json", kThree));
  QCOMPARE(W->GetCurrentRow(), -1);
  W->PopupMenu2->popup(W->EditData->mapToGlobal(QPoint(20, 20)));
  QVERIFY(!W->S1->isEnabled());
  QVERIFY(W->T1->isEnabled());
  QVERIFY(W->A1->isEnabled());
  QVERIFY(!W->X1->isEnabled());
  QVERIFY(!W->C2->isEnabled());
  QVERIFY(W->W1->isChecked());
  W->PopupMenu2->hide();

  // Ctrl+S without a row: the text goes nowhere.
  const String before = SourceJson(0);
  W->EditData->setText(QStringLiteral(R"({"bookSourceUrl": "http://y/", "bookSourceName": "改"})"));
  W->EditData->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier);
  QCOMPARE(SourceJson(0), before);
  QCOMPARE(RowText(0), QStringLiteral("【VIP书源】甲"));

  ClickRow(0);
  QCOMPARE(W->GetCurrentRow(), 0);
  QVERIFY(W->EditData->text().contains(QStringLiteral("\"bookSourceName\": \"甲\"")));
  W->EditData->selectAll();
  W->EditData->replaceSelectedText(QStringLiteral(R"({"bookSourceUrl": "http://y/", "bookSourceName": "改"})"));
  W->PopupMenu2->popup(W->EditData->mapToGlobal(QPoint(20, 20)));
  QVERIFY(W->S1->isEnabled());
  QVERIFY(W->R1->isEnabled());
  QVERIFY(!W->Z1->isEnabled());
  W->PopupMenu2->hide();
  W->EditData->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier);
  QCOMPARE(RowText(0), QStringLiteral("【】改"));

  // Selection, undo/redo and wrap states.
  W->EditData->selectAll();
  W->PopupMenu2->popup(W->EditData->mapToGlobal(QPoint(20, 20)));
  QVERIFY(W->X1->isEnabled());
  QVERIFY(W->C2->isEnabled());
  W->PopupMenu2->hide();
  W->EditData->undo();
  W->PopupMenu2->popup(W->EditData->mapToGlobal(QPoint(20, 20)));
  QVERIFY(W->Z1->isEnabled());
  W->W1->trigger();
  QCOMPARE(W->EditData->wrapMode(), QsciScintilla::WrapNone);
  W->PopupMenu2->hide();
  W->PopupMenu2->popup(W->EditData->mapToGlobal(QPoint(20, 20)));
  QVERIFY(!W->W1->isChecked());
  W->W1->trigger();
  QCOMPARE(W->EditData->wrapMode(), QsciScintilla::WrapWord);
  W->PopupMenu2->hide();
}

// ---------------------------------------------------------------- list commands

void TMainWindowTest::copyAndAdd() {
  AddFile(Fixture("three.json", kThree));
  ClickRow(1);
  Prompts.Inputs.push_back(QStringLiteral("副本"));
  Item(W->PopupMenu1, "C3")->trigger();
  QCOMPARE(Rows(), 4);
  QCOMPARE(RowText(3), QStringLiteral("【普通】副本"));
  QCOMPARE(W->GetCurrentRow(), 3);
  // Cancelled prompt: an exact copy under the same name.
  ClickRow(0);
  Item(W->PopupMenu1, "C3")->trigger();
  QCOMPARE(Rows(), 5);
  QCOMPARE(RowText(4), RowText(0));
  // Without a current row nothing is copied.
  W->SrcList->selectionModel()->clearCurrentIndex();
  Item(W->PopupMenu1, "C3")->trigger();
  QCOMPARE(Rows(), 5);
}

void TMainWindowTest::deleteKeyAndClear() {
  AddFile(Fixture("three.json", kThree));
  auto* sel = W->SrcList->selectionModel();
  sel->select(W->SrcList->model()->index(0, 0), QItemSelectionModel::Select);
  sel->select(W->SrcList->model()->index(2, 0), QItemSelectionModel::Select);
  W->SrcList->setFocus();
  QTest::keyClick(W->SrcList, Qt::Key_Delete);
  QCOMPARE(Prompts.Messages.back().Text, QStringLiteral("确定要删除选中的2个书源吗？"));
  QCOMPARE(Rows(), 1);
  QCOMPARE(RowText(0), QStringLiteral("【普通】vip精选"));
  Prompts.Answers.push_back(QMessageBox::No);  // clear without exporting the changed list first
  Item(W->PopupMenu1, "C1")->trigger();
  QCOMPARE(Prompts.Messages.back().Text, QStringLiteral("书源列表已修改，是否先导出？"));
  QCOMPARE(Rows(), 0);
  QCOMPARE(Status0(), QStringLiteral("书源总数：0个, 当前: 0个"));
  QVERIFY(W->StaticText1->isVisible());
  // The drop-down offers the groups the collection has now: none after the last source went.
  QCOMPARE(W->bookGroupList->findText(QStringLiteral("VIP书源")), -1);
  QCOMPARE(W->bookGroupList->count(), 1);
}

// ---------------------------------------------------------------- drop and paste

void TMainWindowTest::dropThreeFilesSecondInvalid() {
  const QString first = Fixture("first.json", SourcesJson({{"g", "一", "http://x/1"}, {"g", "二", "http://x/2"}}));
  const QString bad = Fixture("bad.json", "[{\"bookSourceUrl\": \"http://x/3\",");
  const QString third = Fixture("third.json", SourcesJson({{"g", "三", "http://x/4"}}));
  SendDrop(W->SrcList->viewport(), {first, bad, third});
  QTRY_COMPARE(Prompts.Errors().size(), 1);
  QCOMPARE(Rows(), 2);
  QCOMPARE(RowText(1), QStringLiteral("【g】二"));
  QTest::qWait(50);
  QCOMPARE(Rows(), 2);  // the third file was never loaded
}

void TMainWindowTest::dropOnPlaceholder() {
  QVERIFY(W->StaticText1->isVisible());
  SendDrop(W->StaticText1, {Fixture("three.json", kThree)});
  QTRY_COMPARE(Rows(), 3);
  QVERIFY(!W->StaticText1->isVisible());
  // Anything but files is refused.
  QMimeData text;
  text.setText("hello");
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(W->SrcList->viewport(), &enter);
  QVERIFY(!enter.isAccepted());
}

void TMainWindowTest::pasteFilesFromClipboard_data() {
  QTest::addColumn<QString>("format");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<int>("rows");
  QTest::newRow("uri-list, V") << "uri-list" << int(Qt::NoModifier) << 3;
  QTest::newRow("uri-list, Ctrl+V") << "uri-list" << int(Qt::ControlModifier) << 3;
  QTest::newRow("gnome-copied-files") << "gnome" << int(Qt::ControlModifier) << 3;
  QTest::newRow("plain text") << "text" << int(Qt::ControlModifier) << 0;
  QTest::newRow("text naming a file path") << "path-text" << int(Qt::NoModifier) << 0;
}

void TMainWindowTest::pasteFilesFromClipboard() {
  QFETCH(QString, format);
  QFETCH(int, modifiers);
  QFETCH(int, rows);
  const QString path = Fixture("three.json", kThree);
  auto* data = new QMimeData;
  if (format == "uri-list")
    data->setUrls({QUrl::fromLocalFile(path)});
  else if (format == "gnome")
    data->setData("x-special/gnome-copied-files", ("copy\n" + QUrl::fromLocalFile(path).toString()).toUtf8());
  else if (format == "text")
    data->setText("[1, 2, 3]");
  else
    data->setText(path);
  QApplication::clipboard()->setMimeData(data);
  W->SrcList->setFocus();
  QTest::keyClick(W->SrcList, Qt::Key_V, Qt::KeyboardModifiers(modifiers));
  QCOMPARE(Rows(), rows);
  QVERIFY(Prompts.Errors().isEmpty());
}

// ---------------------------------------------------------------- the test of the editor text

void TMainWindowTest::testEditorText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QStringList>("logPatterns");
  QTest::addColumn<QString>("error");
  QTest::addColumn<bool>("verdictLine");
  QTest::newRow("no bookSourceUrl") << R"({"bookSourceName": "无址"})"
                                    << QStringList{"^书源URL未设置\\.$", "^结论: 无法校验 \\(not-http\\)$"}
                                    << QStringLiteral("书源URL无效") << false;
  QTest::newRow("url '-'") << R"({"bookSourceName": "x", "bookSourceUrl": "-"})"
                           << QStringList{"^无效的书源URL\\.$", "^用时 \\d+ ms\\.$", "^结论: 无法校验 \\(not-http\\)$",
                                          "^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] 书源异常!$"}
                           << QString() << true;
  QTest::newRow("not JSON") << "{\"bookSourceUrl\": " << QStringList{} << QStringLiteral("*") << false;
}

void TMainWindowTest::testEditorText() {
  QFETCH(QString, text);
  QFETCH(QStringList, logPatterns);
  QFETCH(QString, error);
  QFETCH(bool, verdictLine);
  AddFile(Fixture("three.json", kThree));
  const String before = SourceJson(0);
  W->ClearLog();  // the load's own line
  W->EditData->setText(text);
  W->T1->trigger();
  // The test runs on the worker pool.
  QTRY_VERIFY(!W->TestRunning());
  const QStringList lines = LogText().split('\n', Qt::SkipEmptyParts);
  QCOMPARE(lines.size(), logPatterns.size());
  for (int i = 0; i < lines.size(); ++i)
    QVERIFY2(QRegularExpression(logPatterns[i]).match(lines[i]).hasMatch(), qPrintable(lines[i]));
  const QStringList errors = Prompts.Errors();
  if (error.isEmpty()) {
    QVERIFY(errors.isEmpty());
  } else {
    QCOMPARE(errors.size(), 1);
    if (error != "*") QCOMPARE(errors[0], error);
  }
  QCOMPARE(LogText().contains(QStringLiteral("书源异常!")) || LogText().contains(QStringLiteral("恭喜")), verdictLine);
  // The collection is not touched.
  QCOMPARE(SourceJson(0), before);
  QCOMPARE(Rows(), 3);
}

void TMainWindowTest::logLinesAreNotEdits() {
  AddFile(Fixture("dash.json", SourcesJson({{"g", "一", "-"}, {"g", "二", "-"}})));
  ClickRow(0);
  W->T1->trigger();  // writes log lines
  QTRY_VERIFY(!W->TestRunning());
  W->AppendLog(u"another line");
  QVERIFY(!LogText().isEmpty());
  ClickRow(1);
  QVERIFY(Prompts.Messages.empty());  // no "save changes?" question
  QVERIFY(W->EditData->text().contains(QStringLiteral("二")));
  // A real edit is one.
  W->EditData->append(QStringLiteral(" "));
  Prompts.Answers.push_back(QMessageBox::Cancel);
  ClickRow(0);
  QCOMPARE(Prompts.Messages.size(), size_t(1));
  QCOMPARE(Prompts.Messages[0].Text, QStringLiteral("书源内容已经修改，是否保存？"));
  QCOMPARE(Prompts.Messages[0].Title, QStringLiteral("提示"));
  QCOMPARE(Prompts.Messages[0].Icon, QMessageBox::Information);
  QVERIFY(W->EditData->text().contains(QStringLiteral("二")));
  // The log pane's button empties it.
  QTest::mouseClick(W->SpeedButton1, Qt::LeftButton);
  QVERIFY(LogText().isEmpty());
}

void TMainWindowTest::errorBoxAndWindowStaysUsable() {
  AddFile(FDir.filePath("missing.json"));
  QCOMPARE(Prompts.Errors().size(), 1);
  QCOMPARE(Prompts.Messages.back().Title, QStringLiteral("Tanvork"));
  AddFile(Fixture("three.json", kThree));
  QCOMPARE(Rows(), 3);
  QCOMPARE(Prompts.Errors().size(), 1);
  // A rejected save is shown, and the source keeps its content.
  ClickRow(0);
  const String before = SourceJson(0);
  W->EditData->setText(QStringLiteral("{\"bookSourceUrl\": "));
  W->S1Click();
  QCOMPARE(Prompts.Errors().size(), 2);
  QCOMPARE(SourceJson(0), before);
}
