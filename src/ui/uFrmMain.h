// The main window: source list with its group filter, the JSON editor pane
// with the run controls, the log pane, menus and status bar. The logic lives
// in TMainLogic; this class binds the window operations to the controls.
#pragma once

#include <QAbstractListModel>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <vector>

#include "app/uMainLogic.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QMimeData;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTimer;
class QToolButton;
class QsciScintilla;
class TfrmEditSource;

// The virtual list: as many rows as the filtered view, texts asked for when drawn.
class TSourceListModel : public QAbstractListModel {
  Q_OBJECT
 public:
  explicit TSourceListModel(QObject* AParent) : QAbstractListModel(AParent) {}
  void SetLogic(TMainLogic* ALogic) { FLogic = ALogic; }
  void SetCount(int ACount);
  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole) const override;

 private:
  TMainLogic* FLogic = nullptr;
  int FCount = 0;
};

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
  void SourceLeaving(JSONObject* AItem) override;
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
  void PopupMenu2Popup();
  void Button1Click();
  void PasteFiles();
  // Loads dropped or pasted files, stopping at the first that fails.
  void AddDroppedFiles(const QStringList& AFiles);
  // Opens the source editor dialog; AOwned: a new source the dialog frees unless confirmed.
  TfrmEditSource* EditSource(JSONObject* AItem, bool AOwned);

 protected:
  void showEvent(QShowEvent* AEvent) override;
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

 private:
  void CreateControls();
  void CreateMenus();
  void PlacePlaceholder();
  void OpenDocument(const QString& AName);
  bool HandleDropEvent(QEvent* AEvent);

 public:
  // Controls, named as in the window.
  QWidget* Panel1 = nullptr;
  QWidget* Panel3 = nullptr;
  QWidget* Panel4 = nullptr;
  QWidget* Panel5 = nullptr;
  QLabel* lbCount = nullptr;
  QComboBox* bookGroupList = nullptr;
  QListView* SrcList = nullptr;
  TSourceListModel* FListModel = nullptr;
  QLabel* StaticText1 = nullptr;
  QSplitter* Splitter1 = nullptr;
  QSplitter* Splitter2 = nullptr;
  QPushButton* Button1 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QCheckBox* CheckBox2 = nullptr;
  QCheckBox* CheckBox3 = nullptr;
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
  QAction *S1 = nullptr, *T1 = nullptr, *R1 = nullptr, *Z1 = nullptr, *C2 = nullptr, *X1 = nullptr, *P1 = nullptr,
          *A1 = nullptr, *W1 = nullptr;

 private:
  std::unique_ptr<TMainLogic> FLogic;
  std::vector<QPointer<TfrmEditSource>> FEditors;
  bool FDestroying = false;
  bool FShown = false;
};
