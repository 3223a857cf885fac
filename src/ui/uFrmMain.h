// The main window: source list with its group filter, the JSON editor pane
// with the run controls, the log pane, menus and status bar. The logic lives
// in TMainLogic; this class binds the window operations to the controls.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "app/uMainLogic.h"
#include "ui/uSourceTable.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTimer;
class QToolButton;
class QsciScintilla;
class TfrmEditSource;
class TfrmGuide;
class TSourceTestJob;

class TForm1 : public QMainWindow, public IMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* AParent = nullptr);
  ~TForm1() override;

  TMainLogic& Logic() { return *FLogic; }
  // Open editor dialogs (closed ones drop out).
  std::vector<TfrmEditSource*> EditorDialogs();
  // Local file paths of a drop or a clipboard content, in the order given; empty for anything else.
  static QStringList FilesOf(const QMimeData* AData);

  // ---- IMainWindow
  String GetGroupFilterText() override;
  void SetGroupFilterItems(const std::vector<String>& AItems) override;
  void SetRowCount(int ACount) override;
  int GetCurrentRow() override;
  bool IsRowSelected(int ARow) override;
  void SelectSingleRow(int ARow) override;
  void SetPlaceholderVisible(bool AVisible) override;
  void SetStatusText(TStatusPanel APanel, const String& AText) override;
  String GetEditorText() override;
  void SetEditorText(const String& AText) override;
  String InputName(const String& ACaption, const String& APrompt, const String& ADefault) override;
  TSaveAnswer AskSave(const String& AText, const String& ATitle) override;
  bool ChooseOpenFile(const String& ATitle, String& AFileName) override;
  bool ChooseSaveFile(const String& ATitle, String& AFileName) override;
  bool ChooseReportFile(const String& ATitle, String& AFileName) override;
  bool RunReplaceGroupDialog(TReplaceGroupInput& AInput) override;
  void ShowError(const String& AMessage) override;
  void ShowWarning(const String& AMessage) override;
  void SourceLeaving(JSONObject* AItem) override;
  void ShowFileState(const String& AFileName, bool AModified) override;
  bool AskYesNo(const String& AText, const String& ATitle, bool ADefault) override;
  TRunOptions ReadRunOptions() override;
  void SetRunButton(TRunState AState, const String& ACaption) override;
  void ClearLog() override;
  void AppendLog(const String& ALine) override;
  void SetProgress(int AMin, int AMax, int APosition) override;
  void SetProgressVisible(bool AVisible) override;
  void StartStatusTimer() override;
  void StopStatusTimer() override;
  void ShowWaitDialog() override;
  void CloseWaitDialog() override;
  void SetWaitText(const String& AText) override;
  bool IsDestroying() override { return FDestroying; }

  // ---- commands
  void O1Click();
  void A2Click();
  void N7Click();
  void E2Click();
  void R3Click();
  void H2Click();
  void I1Click();
  void W2Click();
  void R2Click();
  void C3Click();
  void E1Click();
  void S2Click();
  void G1Click();
  void D1Click();
  void C1Click();
  void S1Click();
  void T1Click();
  void U1Click();  // undo of the last collection operation
  void Y1Click();  // its redo
  void PopupMenu2Popup();
  // Start or stop; a worker count outside 1–1000 is refused with a word why.
  void Button1Click();
  // The view of the sources: the list, or the table with its columns (remembered).
  void SetTableView(bool ATable);
  bool TableViewShown() const;
  QAbstractItemView* CurrentView() const;
  // The drop-down's caption of a filter item: "优 (300)", "全部".
  QString GroupItemCaption(int AIndex) const;
  // 文件 → 最近打开: newest first; opening one replaces the collection.
  QStringList RecentFiles() const;
  void OpenRecentFile(const QString& AFileName);
  // The folder the file dialogs start in (the last one used).
  static QString LastFolder();
  // The editor pane's test on the worker pool; a second F5 / press cancels.
  bool TestRunning() const { return FTestJob != nullptr; }
  void PasteFiles();
  // Loads dropped or pasted files, stopping at the first that fails.
  void AddDroppedFiles(const QStringList& AFiles);
  // Opens the source editor dialog; AOwned: a new source the dialog frees unless confirmed.
  TfrmEditSource* EditSource(JSONObject* AItem, bool AOwned);

 protected:
  void showEvent(QShowEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void CreateControls();
  void CreateMenus();
  void PlacePlaceholder();
  bool HandleDropEvent(QEvent* AEvent);
  void EditMenuPopup();
  void FilterEdited(const QString& AText);
  void SyncSortIndicator();
  void PollTest();
  void EndTest(bool ACancelled);
  void AddRecentFile(const QString& AFileName);
  void UpdateRecentMenu();
  void RememberFolder(const QString& AFileName);
  void LoadSettings();
  void SaveSettings();

 public:
  // Controls, named as in the window.
  QWidget* Panel1 = nullptr;
  QWidget* Panel3 = nullptr;
  QWidget* Panel4 = nullptr;
  QWidget* Panel5 = nullptr;
  QLabel* lbCount = nullptr;
  QComboBox* bookGroupList = nullptr;
  TSourceListView* SrcList = nullptr;
  TSourceTableView* SrcTable = nullptr;  // the table view: same model, same selection
  QStackedWidget* ViewStack = nullptr;
  TSourceTableModel* FListModel = nullptr;
  QLabel* StaticText1 = nullptr;
  QSplitter* Splitter1 = nullptr;
  QSplitter* Splitter2 = nullptr;
  QPushButton* Button1 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QCheckBox* CheckBox2 = nullptr;
  QCheckBox* CheckBox3 = nullptr;
  QCheckBox* CheckBox4 = nullptr;  // "深度校验": search and explore probes too
  QsciScintilla* EditData = nullptr;
  QLabel* Label2 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QsciScintilla* edtLog = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* StatusPanel0 = nullptr;
  QLabel* StatusPanel1 = nullptr;
  QTimer* Timer1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QMenu* PopupMenu2 = nullptr;
  QAction* R3 = nullptr;  // "导出校验报告...", enabled once a check has run
  QAction* U1 = nullptr;  // "撤销(&U)" of the edit menu, Ctrl+Z outside the editor pane
  QAction* Y1 = nullptr;  // "重做(&R)", Ctrl+Y
  QAction *O1 = nullptr, *A2 = nullptr, *E2 = nullptr, *E1 = nullptr, *D1 = nullptr;
  QAction* L1 = nullptr;        // "转到筛选框(&L)", Ctrl+F
  QAction* ViewList = nullptr;  // 视图 → 列表
  QAction* ViewTable = nullptr; // 视图 → 表格
  QMenu* RecentMenu = nullptr;  // 文件 → 最近打开
  QAction *S1 = nullptr, *T1 = nullptr, *R1 = nullptr, *Z1 = nullptr, *C2 = nullptr, *X1 = nullptr, *P1 = nullptr,
          *A1 = nullptr, *W1 = nullptr;

 private:
  std::unique_ptr<TMainLogic> FLogic;
  std::vector<QPointer<TfrmEditSource>> FEditors;
  QPointer<TfrmGuide> FGuide;
  bool FDestroying = false;
  bool FShown = false;
  bool FSyncingRow = false;  // the logic moves the current row: nothing to ask
  std::unique_ptr<TSourceTestJob> FTestJob;
  QTimer* FTestTimer = nullptr;
  int FRunState = 0;  // as the run button last showed it
};
