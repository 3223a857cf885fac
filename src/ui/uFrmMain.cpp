#include "ui/uFrmMain.h"

#include <Qsci/qscilexerjson.h>
#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "json/KivJson.h"
#include "ui/uFrmDuplicates.h"
#include "ui/uFrmEditSource.h"
#include "ui/uFrmGuide.h"
#include "ui/uFrmMergePreview.h"
#include "ui/uFrmRemote.h"
#include "ui/uFrmReplaceGroup.h"
#include "ui/uFrmWait.h"
#include "ui/uSourceTestJob.h"
#include "ui/uUiPrompts.h"

#ifndef TANVORK_VERSION
#define TANVORK_VERSION ""
#endif
#ifndef TANVORK_HOMEPAGE
#define TANVORK_HOMEPAGE ""
#endif

namespace {

QString Q(const String& S) { return QString::fromStdU16String(S); }
String S(const QString& Q) { return Q.toStdU16String(); }

// Windows family names first, then what a Linux desktop has.
QFont UiFont(const QStringList& AFamilies, int APointSize) {
  QFont f;
  f.setFamilies(AFamilies);
  f.setPointSize(APointSize);
  return f;
}

// The editor control takes one family name: the first one installed.
QFont EditorFont(int APointSize) {
  const QStringList installed = QFontDatabase::families();
  QString family = QStringLiteral("Monospace");
  for (const QString& name : {QStringLiteral("Courier New"), QStringLiteral("DejaVu Sans Mono"),
                              QStringLiteral("Liberation Mono"), QStringLiteral("Noto Sans Mono")})
    if (installed.contains(name)) {
      family = name;
      break;
    }
  QFont f(family, APointSize);
  f.setStyleHint(QFont::TypeWriter);
  return f;
}

const QStringList kTahoma = {"Tahoma", "DejaVu Sans", "WenQuanYi Micro Hei", "Noto Sans CJK SC"};
const QStringList kSongTi = {"宋体", "SimSun", "NSimSun", "WenQuanYi Micro Hei", "Noto Sans CJK SC"};
const QStringList kYaHei = {"微软雅黑", "Microsoft YaHei", "WenQuanYi Micro Hei", "Noto Sans CJK SC"};

void SetupEditor(QsciScintilla* AEditor, int APointSize) {
  const QFont font = EditorFont(APointSize);
  AEditor->setFont(font);
  AEditor->setFrameShape(QFrame::NoFrame);
  AEditor->setWrapMode(QsciScintilla::WrapWord);
  AEditor->setUtf8(true);
  AEditor->setMarginsFont(font);
}

const QString kAllGroups = QStringLiteral("全部");
constexpr int kRecentFiles = 8;

// The filter's drop-down shows each group with its count; the item's text
// stays the group name, which is what a pick puts in the box.
class TGroupItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* AOption, const QModelIndex& AIndex) const override {
    QStyledItemDelegate::initStyleOption(AOption, AIndex);
    const QVariant count = AIndex.data(Qt::UserRole);
    if (count.isValid()) AOption->text += QStringLiteral(" (%1)").arg(count.toInt());
  }
};

QAction* AddItem(QMenu* AMenu, const char* AName, const QString& ACaption, QObject* AContext,
                 std::function<void()> AHandler) {
  auto* action = AMenu->addAction(ACaption);
  action->setObjectName(QString::fromLatin1(AName));
  QObject::connect(action, &QAction::triggered, AContext, [AHandler] { AHandler(); });
  return action;
}

}  // namespace

// ---------------------------------------------------------------- creation

TForm1::TForm1(QWidget* AParent) : QMainWindow(AParent) {
  setObjectName("Form1");
  setWindowTitle(QStringLiteral("Tanvork"));
  setFont(UiFont(kTahoma, 8));
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(242, 242, 242));
  setPalette(pal);
  CreateControls();
  CreateMenus();
  FLogic = std::make_unique<TMainLogic>(*this);
  FLogic->SetOperationLog(true);
  FListModel->SetLogic(FLogic.get());
  resize(1145, 548 + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
  LoadSettings();
}

TForm1::~TForm1() {
  FDestroying = true;
  // The dialogs refer to sources and to the logic: they go first.
  for (TfrmEditSource* dialog : EditorDialogs()) {
    dialog->Detach();
    delete dialog;
  }
  FEditors.clear();
  FTestJob.reset();
  Timer1->stop();
  FListModel->SetLogic(nullptr);
  FLogic.reset();
}

void TForm1::CreateControls() {
  auto* central = new QWidget(this);
  auto* centralLayout = new QVBoxLayout(central);
  centralLayout->setContentsMargins(0, 0, 0, 0);
  centralLayout->setSpacing(0);
  setCentralWidget(central);

  Splitter1 = new QSplitter(Qt::Horizontal, central);
  Splitter1->setObjectName("Splitter1");
  Splitter1->setHandleWidth(4);
  Splitter1->setChildrenCollapsible(false);
  Splitter1->setStyleSheet("QSplitter::handle { background: silver; }");
  centralLayout->addWidget(Splitter1, 1);

  // Left column: the filter bar and the list.
  Panel1 = new QWidget(Splitter1);
  Panel1->setObjectName("Panel1");
  auto* leftLayout = new QVBoxLayout(Panel1);
  leftLayout->setContentsMargins(4, 4, 0, 4);
  leftLayout->setSpacing(0);
  Panel4 = new QWidget(Panel1);
  Panel4->setObjectName("Panel4");
  Panel4->setFixedHeight(32);
  auto* filterLayout = new QHBoxLayout(Panel4);
  filterLayout->setContentsMargins(0, 0, 0, 0);
  lbCount = new QLabel(QStringLiteral("书源列表："), Panel4);
  lbCount->setObjectName("lbCount");
  bookGroupList = new QComboBox(Panel4);
  bookGroupList->setObjectName("bookGroupList");
  bookGroupList->setEditable(true);
  bookGroupList->setMaxVisibleItems(24);
  bookGroupList->setInsertPolicy(QComboBox::NoInsert);
  // Typing is filtering: an inline completion would filter by a text nobody typed.
  bookGroupList->setCompleter(nullptr);
  filterLayout->addWidget(lbCount);
  filterLayout->addWidget(bookGroupList, 1);
  leftLayout->addWidget(Panel4);

  ViewStack = new QStackedWidget(Panel1);
  ViewStack->setObjectName("ViewStack");
  SrcList = new TSourceListView(ViewStack);
  SrcList->setObjectName("SrcList");
  FListModel = new TSourceTableModel(this);
  SrcList->setModel(FListModel);
  SrcList->setModelColumn(TSourceTableModel::kListColumn);
  SrcList->setUniformItemSizes(true);
  // What both views of the sources have alike.
  auto setupView = [this](QAbstractItemView* AView) {
    AView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Whole rows, so the table shows what the list selected.
    AView->setSelectionBehavior(QAbstractItemView::SelectRows);
    AView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    AView->setFont(UiFont(kSongTi, 9));
    AView->setFrameShape(QFrame::NoFrame);
    AView->setContextMenuPolicy(Qt::CustomContextMenu);
    // The view drags nothing itself (this mode also switches drops off); files are taken below.
    AView->setDragDropMode(QAbstractItemView::NoDragDrop);
    AView->setAcceptDrops(true);
    AView->viewport()->setAcceptDrops(true);
    AView->installEventFilter(this);
    AView->viewport()->installEventFilter(this);
    ViewStack->addWidget(AView);
  };
  setupView(SrcList);

  // The table: the same model and selection model, its own columns.
  SrcTable = new TSourceTableView(ViewStack);
  SrcTable->setObjectName("SrcTable");
  SrcTable->setModel(FListModel);
  {
    QItemSelectionModel* own = SrcTable->selectionModel();
    SrcTable->setSelectionModel(SrcList->selectionModel());
    delete own;
  }
  SrcTable->setColumnHidden(TSourceTableModel::kListColumn, true);
  SrcTable->setWordWrap(false);
  SrcTable->setShowGrid(false);
  // Fixed rows: 100 000 of them are never measured.
  SrcTable->verticalHeader()->setVisible(false);
  SrcTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  SrcTable->verticalHeader()->setDefaultSectionSize(18);
  QHeaderView* header = SrcTable->horizontalHeader();
  header->setObjectName("SrcTableHeader");
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicatorClearable(true);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  header->setHighlightSections(false);
  header->setStretchLastSection(true);
  const int widths[] = {0, 160, 90, 220, 40, 40, 64, 90, 70};
  for (int c = 1; c < FListModel->columnCount(); ++c) header->resizeSection(c, widths[c]);
  setupView(SrcTable);
  ViewStack->installEventFilter(this);
  leftLayout->addWidget(ViewStack, 1);

  StaticText1 = new QLabel(QStringLiteral("鼠标拖入书源文件到此处"), ViewStack);
  StaticText1->setObjectName("StaticText1");
  StaticText1->setAlignment(Qt::AlignCenter);
  StaticText1->setFont(UiFont(kYaHei, 12));
  StaticText1->setAutoFillBackground(true);
  QPalette textPal = StaticText1->palette();
  textPal.setColor(QPalette::WindowText, QColor(0, 204, 102));
  textPal.setColor(QPalette::Window, QColor(242, 242, 242));
  StaticText1->setPalette(textPal);
  StaticText1->setAcceptDrops(true);
  StaticText1->setContextMenuPolicy(Qt::CustomContextMenu);
  StaticText1->installEventFilter(this);

  // Right column: run controls, editor, log.
  auto* right = new QWidget(Splitter1);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->setSpacing(0);
  Panel3 = new QWidget(right);
  Panel3->setObjectName("Panel3");
  Panel3->setFixedHeight(36);
  auto* runLayout = new QHBoxLayout(Panel3);
  runLayout->setContentsMargins(6, 6, 6, 6);
  Button1 = new QPushButton(QStringLiteral("开始处理(&B)"), Panel3);
  Button1->setObjectName("Button1");
  Button1->setFixedSize(128, 24);
  Button1->setProperty("Tag", 0);
  Label1 = new QLabel(QStringLiteral("工作线程数:"), Panel3);
  Label1->setObjectName("Label1");
  Edit1 = new QLineEdit(QStringLiteral("60"), Panel3);
  Edit1->setObjectName("Edit1");
  Edit1->setFixedWidth(35);
  Edit1->setAlignment(Qt::AlignCenter);
  Edit1->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,4}"), Edit1));
  Edit1->setToolTip(QStringLiteral("工作线程数：1–1000"));
  Label1->setToolTip(Edit1->toolTip());
  CheckBox1 = new QCheckBox(QStringLiteral("去除重复"), Panel3);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setChecked(true);
  CheckBox3 = new QCheckBox(QStringLiteral("真实去重"), Panel3);
  CheckBox3->setObjectName("CheckBox3");
  CheckBox3->setChecked(true);
  CheckBox3->setToolTip(QStringLiteral("去重时不检测书源名称和分组"));
  CheckBox2 = new QCheckBox(QStringLiteral("校验书源"), Panel3);
  CheckBox2->setObjectName("CheckBox2");
  CheckBox4 = new QCheckBox(QStringLiteral("深度校验"), Panel3);
  CheckBox4->setObjectName("CheckBox4");
  CheckBox4->setToolTip(QStringLiteral("校验时也请求搜索地址和第一个发现，结果写入校验报告；只由书源URL决定是否失效"));
  runLayout->addWidget(Button1);
  runLayout->addSpacing(8);
  runLayout->addWidget(Label1);
  runLayout->addWidget(Edit1);
  runLayout->addSpacing(8);
  runLayout->addWidget(CheckBox1);
  runLayout->addWidget(CheckBox3);
  runLayout->addWidget(CheckBox2);
  runLayout->addWidget(CheckBox4);
  AddRunHistoryControls(Panel3, runLayout, [this]() -> TMainLogic& { return *FLogic; });
  runLayout->addStretch(1);
  rightLayout->addWidget(Panel3);

  Splitter2 = new QSplitter(Qt::Vertical, right);
  Splitter2->setObjectName("Splitter2");
  Splitter2->setHandleWidth(4);
  Splitter2->setChildrenCollapsible(false);
  Splitter2->setStyleSheet("QSplitter::handle { background: silver; }");
  rightLayout->addWidget(Splitter2, 1);

  EditData = new QsciScintilla(Splitter2);
  EditData->setObjectName("EditData");
  SetupEditor(EditData, 10);
  auto* lexer = new QsciLexerJSON(EditData);
  lexer->setDefaultFont(EditorFont(10));
  lexer->setFont(EditorFont(10));
  EditData->setLexer(lexer);
  EditData->setMarginType(0, QsciScintilla::NumberMargin);
  EditData->setMarginWidth(0, QStringLiteral("000000"));
  EditData->setMarginLineNumbers(0, true);
  EditData->setContextMenuPolicy(Qt::CustomContextMenu);
  EditData->installEventFilter(this);

  Panel5 = new QWidget(Splitter2);
  Panel5->setObjectName("Panel5");
  auto* logLayout = new QVBoxLayout(Panel5);
  logLayout->setContentsMargins(0, 2, 0, 0);
  logLayout->setSpacing(2);
  auto* logBar = new QHBoxLayout();
  Label2 = new QLabel(QStringLiteral("日志："), Panel5);
  Label2->setObjectName("Label2");
  SpeedButton1 = new QToolButton(Panel5);
  SpeedButton1->setObjectName("SpeedButton1");
  SpeedButton1->setText(QStringLiteral("清空"));
  SpeedButton1->setAutoRaise(true);
  SpeedButton1->setFixedSize(43, 20);
  QPalette tealPal = SpeedButton1->palette();
  tealPal.setColor(QPalette::ButtonText, QColor(0, 128, 128));
  SpeedButton1->setPalette(tealPal);
  logBar->addWidget(Label2);
  logBar->addStretch(1);
  logBar->addWidget(SpeedButton1);
  logLayout->addLayout(logBar);
  edtLog = new QsciScintilla(Panel5);
  edtLog->setObjectName("edtLog");
  SetupEditor(edtLog, 9);
  edtLog->setMarginWidth(0, 0);
  edtLog->setMarginWidth(1, 0);
  edtLog->setMarginWidth(2, 0);
  edtLog->setReadOnly(true);
  logLayout->addWidget(edtLog, 1);

  Splitter2->addWidget(EditData);
  Splitter2->addWidget(Panel5);
  Splitter2->setStretchFactor(0, 1);
  Splitter2->setStretchFactor(1, 0);
  Splitter2->setSizes({400, 141});

  Splitter1->addWidget(Panel1);
  Splitter1->addWidget(right);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({313, 1145 - 313 - 4});

  ProgressBar1 = new QProgressBar(central);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setFixedHeight(6);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setVisible(false);
  centralLayout->addWidget(ProgressBar1);

  QStatusBar* bar = statusBar();
  bar->setObjectName("StatusBar1");
  StatusPanel0 = new QLabel(bar);
  StatusPanel0->setObjectName("StatusPanel0");
  StatusPanel0->setFixedWidth(500);
  StatusPanel1 = new QLabel(bar);
  StatusPanel1->setObjectName("StatusPanel1");
  StatusPanel1->setMinimumWidth(50);
  bar->addWidget(StatusPanel0);
  bar->addWidget(StatusPanel1, 1);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, [this] { FLogic->DispLog(); });
  Timer1->start();

  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { ClearLog(); });
  // The current row is the editor's source: moves ask first (a modified
  // editor), and the editor follows.
  auto gate = [this](int ARow) {
    JSONObject* target = FLogic->SourceOfRow(ARow);
    bool bound = false;
    FLogic->RunCommand([&] { bound = FLogic->ActivateSource(target); });
    if (!bound) return false;
    if (FLogic->CurIndex() == ARow) return true;
    // A save before the move refreshed the list and the source's row changed.
    SelectSingleRow(FLogic->CurIndex());
    return false;
  };
  SrcList->RowGate = gate;
  SrcTable->RowGate = gate;
  // Moves that do not come through the gate (type-ahead search, code): the
  // editor follows, or the row goes back.
  connect(SrcList->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& ANow) {
    if (FSyncingRow || !ANow.isValid() || !FLogic) return;
    JSONObject* target = FLogic->SourceOfRow(ANow.row());
    if (target == FLogic->EditorSource() && ANow.row() == FLogic->CurIndex()) return;
    bool bound = false;
    FLogic->RunCommand([&] { bound = FLogic->ActivateSource(target); });
    if (!bound || FLogic->CurIndex() != ANow.row()) SelectSingleRow(FLogic->CurIndex());
  });
  connect(SrcList, &QListView::doubleClicked, this, &TForm1::E1Click);
  connect(SrcTable, &QTableView::doubleClicked, this, &TForm1::E1Click);
  connect(header, &QHeaderView::sortIndicatorChanged, this, [this](int ASection, Qt::SortOrder AOrder) {
    FLogic->RunCommand([&] { FLogic->SetViewSort(ASection - 1, AOrder == Qt::DescendingOrder); });
  });
  bookGroupList->setItemDelegate(new TGroupItemDelegate(bookGroupList));
  connect(bookGroupList, &QComboBox::editTextChanged, this, &TForm1::FilterEdited);
  // Picking the item already in the box changes no text.
  connect(bookGroupList, &QComboBox::textActivated, this, [this](const QString& AText) {
    if (!FLogic->FilterIsExactGroup() && AText != kAllGroups) FilterEdited(AText);
  });
  // Only the editor pane's changes are edits; log lines are not.
  connect(EditData, &QsciScintilla::textChanged, this, [this] {
    if (FLogic) FLogic->EditorChanged();
  });
}

void TForm1::CreateMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("文件(&F)"));
  file->setObjectName("File1");
  O1 = AddItem(file, "O1", QStringLiteral("打开书源文件(&O)..."), this, [this] { O1Click(); });
  O1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  A2 = AddItem(file, "A2", QStringLiteral("添加书源文件(&A)..."), this, [this] { A2Click(); });
  A2->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  AddItem(file, "U2", QStringLiteral("从网址导入(&U)..."), this, [this] { TfrmRemoteImport::Execute(this, *FLogic); });
  RecentMenu = file->addMenu(QStringLiteral("最近打开(&J)"));
  RecentMenu->setObjectName("RecentMenu");
  file->addSeparator();
  AddItem(file, "N7", QStringLiteral("新建书源(&N)..."), this, [this] { N7Click(); });
  file->addSeparator();
  E2 = AddItem(file, "E2", QStringLiteral("导出书源文件(&E)..."), this, [this] { E2Click(); });
  E2->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
  R3 = AddItem(file, "R3", QStringLiteral("导出校验报告..."), this, [this] { R3Click(); });
  R3->setEnabled(false);
  file->addSeparator();
  AddItem(file, "M1", QStringLiteral("合并书源文件(&M)..."), this,
          [this] { TfrmMergePreview::Execute(this, *FLogic); });

  QMenu* edit = menuBar()->addMenu(QStringLiteral("编辑(&E)"));
  edit->setObjectName("Edit2");
  U1 = AddItem(edit, "U1", QStringLiteral("撤销(&U)"), this, [this] { U1Click(); });
  U1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  Y1 = AddItem(edit, "Y1", QStringLiteral("重做(&R)"), this, [this] { Y1Click(); });
  Y1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
  // Window-wide keys; in the editor pane its own undo takes them (eventFilter).
  addAction(U1);
  addAction(Y1);
  edit->addSeparator();
  AddItem(edit, "H2", QStringLiteral("分组名称替换(&H)..."), this, [this] { H2Click(); });
  AddItem(edit, "F1", QStringLiteral("查找重复书源(&F)..."), this,
          [this] { TfrmDuplicates::Execute(this, *FLogic, CheckBox3->isChecked()); });
  AddItem(edit, "V1", QStringLiteral("转换为新格式(&V)"), this, [this] { FLogic->ConvertSelected(); });
  edit->addSeparator();
  L1 = AddItem(edit, "L1", QStringLiteral("转到筛选框(&L)"), this, [this] {
    bookGroupList->setFocus(Qt::ShortcutFocusReason);
    bookGroupList->lineEdit()->selectAll();
  });
  L1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  connect(edit, &QMenu::aboutToShow, this, &TForm1::EditMenuPopup);
  // The states hold for the open menu; the keys check their own condition.
  connect(edit, &QMenu::aboutToHide, this, [this] {
    U1->setEnabled(true);
    Y1->setEnabled(true);
  });

  QMenu* view = menuBar()->addMenu(QStringLiteral("视图(&V)"));
  view->setObjectName("View1");
  ViewList = AddItem(view, "ViewList", QStringLiteral("列表(&L)"), this, [this] { SetTableView(false); });
  ViewTable = AddItem(view, "ViewTable", QStringLiteral("表格(&T)"), this, [this] { SetTableView(true); });
  ViewList->setCheckable(true);
  ViewTable->setCheckable(true);
  ViewList->setChecked(true);
  auto* views = new QActionGroup(this);
  views->addAction(ViewList);
  views->addAction(ViewTable);

  QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
  help->setObjectName("Help1");
  AddItem(help, "I1", QStringLiteral("关于(&I)"), this, [this] { I1Click(); });
  help->addSeparator();
  AddItem(help, "W2", QStringLiteral("作者博客(&W)"), this, [this] { W2Click(); });
  AddItem(help, "R2", QStringLiteral("用户指南(&R)"), this, [this] { R2Click(); });

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  AddItem(PopupMenu1, "C3", QStringLiteral("复制新增(&A)"), this, [this] { C3Click(); });
  AddItem(PopupMenu1, "N1", QStringLiteral("新建书源(&N)..."), this, [this] { N7Click(); });
  E1 = AddItem(PopupMenu1, "E1", QStringLiteral("编辑书源(&E)..."), this, [this] { E1Click(); });
  E1->setShortcut(QKeySequence(Qt::Key_F2));
  addAction(E1);
  PopupMenu1->addSeparator();
  AddItem(PopupMenu1, "S2", QStringLiteral("排序 - 书源名称(&S)"), this, [this] { S2Click(); });
  AddItem(PopupMenu1, "G1", QStringLiteral("排序 - 分组(&G)"), this, [this] { G1Click(); });
  PopupMenu1->addSeparator();
  AddItem(PopupMenu1, "H1", QStringLiteral("分组名称替换(&H)..."), this, [this] { H2Click(); });
  PopupMenu1->addSeparator();
  D1 = AddItem(PopupMenu1, "D1", QStringLiteral("删除选中项(&D)"), this, [this] { D1Click(); });
  // Shown in the menu; the key itself is the views' own (the editor pane deletes text).
  D1->setShortcut(QKeySequence(Qt::Key_Delete));
  D1->setShortcutContext(Qt::WidgetShortcut);
  AddItem(PopupMenu1, "C1", QStringLiteral("清空(&C)"), this, [this] { C1Click(); });
  auto showPopup1 = [this](QWidget* AFrom, const QPoint& APos) { PopupMenu1->popup(AFrom->mapToGlobal(APos)); };
  connect(SrcList, &QWidget::customContextMenuRequested, this,
          [this, showPopup1](const QPoint& APos) { showPopup1(SrcList->viewport(), APos); });
  connect(SrcTable, &QWidget::customContextMenuRequested, this,
          [this, showPopup1](const QPoint& APos) { showPopup1(SrcTable->viewport(), APos); });
  connect(StaticText1, &QWidget::customContextMenuRequested, this,
          [this, showPopup1](const QPoint& APos) { showPopup1(StaticText1, APos); });

  PopupMenu2 = new QMenu(this);
  PopupMenu2->setObjectName("PopupMenu2");
  S1 = AddItem(PopupMenu2, "S1", QStringLiteral("保存修改(&S)"), this, [this] { S1Click(); });
  S1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  S1->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  EditData->addAction(S1);
  T1 = AddItem(PopupMenu2, "T1", QStringLiteral("测试书源(&T)"), this, [this] { T1Click(); });
  T1->setShortcut(QKeySequence(Qt::Key_F5));
  addAction(T1);
  PopupMenu2->addSeparator();
  R1 = AddItem(PopupMenu2, "R1", QStringLiteral("撤消(&R)"), this, [this] { EditData->undo(); });
  Z1 = AddItem(PopupMenu2, "Z1", QStringLiteral("重做(&Z)"), this, [this] { EditData->redo(); });
  PopupMenu2->addSeparator();
  C2 = AddItem(PopupMenu2, "C2", QStringLiteral("复制(&C)"), this, [this] { EditData->copy(); });
  X1 = AddItem(PopupMenu2, "X1", QStringLiteral("剪切(&X)"), this, [this] { EditData->cut(); });
  P1 = AddItem(PopupMenu2, "P1", QStringLiteral("粘贴(&P)"), this, [this] { EditData->paste(); });
  PopupMenu2->addSeparator();
  A1 = AddItem(PopupMenu2, "A1", QStringLiteral("全选(&A)"), this, [this] { EditData->selectAll(); });
  PopupMenu2->addSeparator();
  W1 = AddItem(PopupMenu2, "W1", QStringLiteral("自动换行(&W)"), this, [] {});
  W1->setCheckable(true);
  // The mark has already flipped when this runs: it is the wanted state.
  connect(W1, &QAction::toggled, this,
          [this](bool AOn) { EditData->setWrapMode(AOn ? QsciScintilla::WrapWord : QsciScintilla::WrapNone); });
  connect(PopupMenu2, &QMenu::aboutToShow, this, &TForm1::PopupMenu2Popup);
  // The states hold for the open menu only; Ctrl+S checks its own condition.
  connect(PopupMenu2, &QMenu::aboutToHide, this, [this] { S1->setEnabled(true); });
  connect(EditData, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& APos) { PopupMenu2->popup(EditData->mapToGlobal(APos)); });
}

// ---------------------------------------------------------------- showing and events

void TForm1::showEvent(QShowEvent* AEvent) {
  QMainWindow::showEvent(AEvent);
  if (FShown) return;
  FShown = true;
  PlacePlaceholder();
  FLogic->NotifyListChange(lcSourcesChanged);
}

void TForm1::closeEvent(QCloseEvent* AEvent) {
  // Unsaved editor text first, then the unexported list.
  bool leave = true;
  if (!FLogic->RunCommand([&] { leave = FLogic->CheckSaveState() && FLogic->MayDiscardSources(); })) leave = false;
  if (!leave) {
    AEvent->ignore();
    return;
  }
  SaveSettings();
  QMainWindow::closeEvent(AEvent);
}

void TForm1::PlacePlaceholder() {
  const int h = StaticText1->sizeHint().height() + 8;
  StaticText1->setGeometry(0, 30, ViewStack->width(), h);
  StaticText1->raise();
}

bool TForm1::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == EditData && AEvent->type() == QEvent::KeyPress) {
    // Tab belongs to the text; Ctrl+Tab leaves the pane for the list.
    auto* key = static_cast<QKeyEvent*>(AEvent);
    if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && key->modifiers().testFlag(Qt::ControlModifier)) {
      if (key->modifiers().testFlag(Qt::ShiftModifier) || key->key() == Qt::Key_Backtab)
        bookGroupList->setFocus(Qt::BacktabFocusReason);
      else
        CurrentView()->setFocus(Qt::TabFocusReason);
      return true;
    }
  }
  if (AWatched == EditData && AEvent->type() == QEvent::ShortcutOverride) {
    // Undo keys in the editor pane undo its typing, not a collection operation.
    auto* key = static_cast<QKeyEvent*>(AEvent);
    const QKeyCombination pressed = key->keyCombination();
    if (pressed == (Qt::CTRL | Qt::Key_Z) || pressed == (Qt::CTRL | Qt::Key_Y) ||
        pressed == (Qt::CTRL | Qt::SHIFT | Qt::Key_Z)) {
      key->accept();
      return true;
    }
  }
  const bool onList = AWatched == SrcList || AWatched == SrcList->viewport() || AWatched == SrcTable ||
                      AWatched == SrcTable->viewport();
  if ((onList || AWatched == StaticText1) &&
      (AEvent->type() == QEvent::DragEnter || AEvent->type() == QEvent::DragMove || AEvent->type() == QEvent::Drop))
    return HandleDropEvent(AEvent);
  if (AWatched == ViewStack && AEvent->type() == QEvent::Resize) PlacePlaceholder();
  if ((AWatched == SrcList || AWatched == SrcTable) && AEvent->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(AEvent);
    if (key->key() == Qt::Key_Delete) {
      D1Click();
      return true;
    }
    // V with or without modifiers, so Ctrl+V too.
    if (key->key() == Qt::Key_V) {
      PasteFiles();
      return true;
    }
  }
  return QMainWindow::eventFilter(AWatched, AEvent);
}

bool TForm1::HandleDropEvent(QEvent* AEvent) {
  auto* drop = static_cast<QDropEvent*>(AEvent);
  const QStringList files = FilesOf(drop->mimeData());
  if (files.isEmpty()) {
    drop->ignore();
    return true;
  }
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  if (AEvent->type() == QEvent::Drop) {
    // The paths are copied out and the drop is finished before loading, so the
    // drag source is released at once and an error box opens outside the drop.
    QTimer::singleShot(0, this, [this, files] { AddDroppedFiles(files); });
  }
  return true;
}

QStringList TForm1::FilesOf(const QMimeData* AData) {
  QStringList files;
  if (!AData) return files;
  QList<QUrl> urls;
  if (AData->hasUrls()) {
    urls = AData->urls();
  } else if (AData->hasFormat("x-special/gnome-copied-files")) {
    // "copy" or "cut", then one URL a line.
    const QStringList lines = QString::fromUtf8(AData->data("x-special/gnome-copied-files")).split('\n');
    for (int i = 1; i < lines.size(); ++i)
      if (!lines[i].trimmed().isEmpty()) urls.push_back(QUrl(lines[i].trimmed()));
  }
  for (const QUrl& url : urls)
    if (url.isLocalFile()) files.push_back(url.toLocalFile());
  return files;
}

void TForm1::AddDroppedFiles(const QStringList& AFiles) {
  std::vector<String> names;
  names.reserve(size_t(AFiles.size()));
  for (const QString& f : AFiles) names.push_back(S(f));
  FLogic->AddFiles(names);
}

void TForm1::PasteFiles() {
  const QStringList files = FilesOf(QApplication::clipboard()->mimeData());
  if (!files.isEmpty()) AddDroppedFiles(files);
}

// ---------------------------------------------------------------- commands

void TForm1::O1Click() { FLogic->OpenFileCommand(); }
void TForm1::A2Click() { FLogic->AddFileCommand(); }
void TForm1::N7Click() {
  if (JSONObject* source = TfrmEditSource::AskNewSource(this)) EditSource(source, true);
}
void TForm1::E2Click() { FLogic->ExportCommand(); }
void TForm1::R3Click() { FLogic->ExportReportCommand(); }
void TForm1::H2Click() { FLogic->H2Click(); }
void TForm1::C3Click() { FLogic->RunCommand([this] { FLogic->CopyAndAdd(); }); }
void TForm1::S2Click() { FLogic->RunCommand([this] { FLogic->SortByName(); }); }
void TForm1::G1Click() { FLogic->RunCommand([this] { FLogic->SortByGroup(); }); }
void TForm1::D1Click() { FLogic->RunCommand([this] { FLogic->RemoveSelected(); }); }
void TForm1::C1Click() { FLogic->RunCommand([this] { FLogic->ClearSources(); }); }
void TForm1::T1Click() {
  if (FTestJob) {
    EndTest(true);
    return;
  }
  auto source = std::make_unique<JSONObject>();
  if (!FLogic->RunCommand([&] { source->Parse(S(EditData->text()), false); })) return;
  FTestJob = std::make_unique<TSourceTestJob>(std::move(source));
  if (!FTestTimer) {
    FTestTimer = new QTimer(this);
    FTestTimer->setInterval(30);
    connect(FTestTimer, &QTimer::timeout, this, &TForm1::PollTest);
  }
  FTestTimer->start();
  T1->setText(QStringLiteral("停止测试(&T)"));
}

void TForm1::PollTest() {
  if (!FTestJob) return;
  // The check's lines as they are, without time stamps.
  for (const String& line : FTestJob->TakeLines()) AppendLog(line);
  if (!FTestJob->Done()) return;
  for (const String& line : FTestJob->TakeLines()) AppendLog(line);
  const bool verdict = FTestJob->Verdict();
  const String error = FTestJob->Error();
  EndTest(false);
  if (!error.empty())
    ShowError(error);
  else
    FLogic->LogD(verdict ? u"恭喜, 检测通过!" : u"书源异常!");
}

void TForm1::EndTest(bool ACancelled) {
  if (!FTestJob) return;
  if (ACancelled) {
    for (const String& line : FTestJob->TakeLines()) AppendLog(line);
    FLogic->LogD(u"测试已取消");
  }
  FTestJob.reset();
  FTestTimer->stop();
  T1->setText(QStringLiteral("测试书源(&T)"));
}
void TForm1::U1Click() { FLogic->RunCommand([this] { FLogic->Undo(); }); }
void TForm1::Y1Click() { FLogic->RunCommand([this] { FLogic->Redo(); }); }

void TForm1::EditMenuPopup() {
  const String undo = FLogic->UndoCaption(), redo = FLogic->RedoCaption();
  U1->setEnabled(FLogic->CanUndo());
  Y1->setEnabled(FLogic->CanRedo());
  U1->setText(QStringLiteral("撤销(&U)") + (U1->isEnabled() && !undo.empty() ? " " + Q(undo) : QString()));
  Y1->setText(QStringLiteral("重做(&R)") + (Y1->isEnabled() && !redo.empty() ? " " + Q(redo) : QString()));
}
void TForm1::Button1Click() {
  if (FLogic->RunState() == rsIdle) {
    bool ok = false;
    const int workers = Edit1->text().toInt(&ok);
    if (!ok || workers < 1 || workers > 1000) {
      ShowWarning(u"工作线程数应为 1 到 1000 之间的整数。");
      Edit1->setFocus();
      Edit1->selectAll();
      return;
    }
  }
  FLogic->RunCommand([this] { FLogic->Button1Click(); });
}

void TForm1::E1Click() {
  JSONObject* source = FLogic->SourceOfRow(GetCurrentRow());
  if (source) EditSource(source, false);
}

void TForm1::S1Click() {
  // Also reached by Ctrl+S, whose menu state is not computed: same rule here.
  if (!FLogic->EditorSource()) return;
  FLogic->RunCommand([this] { FLogic->SaveEdit(); });
}

void TForm1::PopupMenu2Popup() {
  // The editor's source, also when the filter hides its row.
  S1->setEnabled(FLogic->EditorSource() != nullptr);
  R1->setEnabled(EditData->isUndoAvailable());
  Z1->setEnabled(EditData->isRedoAvailable());
  X1->setEnabled(EditData->hasSelectedText());
  C2->setEnabled(X1->isEnabled());
  P1->setEnabled(EditData->SendScintilla(QsciScintillaBase::SCI_CANPASTE) != 0);
  const QSignalBlocker block(W1);
  W1->setChecked(EditData->wrapMode() != QsciScintilla::WrapNone);
}

void TForm1::I1Click() {
  ShowMessage({this, QMessageBox::Information, QStringLiteral("关于我"),
               QApplication::applicationName() +
                   QStringLiteral("\n版本 %1，书源整理工具；使用说明见“帮助 → 用户指南”。").arg(QStringLiteral(TANVORK_VERSION)),
               QMessageBox::Ok});
}

void TForm1::W2Click() {
  if (!OpenWithDesktop(QStringLiteral(TANVORK_HOMEPAGE)))
    ShowError(S(QStringLiteral("无法打开网页：") + QStringLiteral(TANVORK_HOMEPAGE)));
}

// The guide is built into the program: nothing to find on the disk.
void TForm1::R2Click() {
  if (!FGuide) FGuide = new TfrmGuide(this);
  FGuide->show();
  FGuide->raise();
  FGuide->activateWindow();
}

TfrmEditSource* TForm1::EditSource(JSONObject* AItem, bool AOwned) {
  // The group names only: 全部 is no group.
  QStringList groups;
  for (const auto& group : FLogic->GroupCounts()) groups.push_back(Q(group.first));
  auto* dialog = new TfrmEditSource(this, *FLogic, groups);
  dialog->SetData(AItem, AOwned);
  dialog->CallBack = [this](JSONObject* ASource, const std::function<void(JSONObject*)>& AApply) {
    FLogic->RunCommand([&] { FLogic->EditorDialogResult(ASource, AApply); });
  };
  FEditors.emplace_back(dialog);
  dialog->show();
  return dialog;
}

std::vector<TfrmEditSource*> TForm1::EditorDialogs() {
  std::vector<TfrmEditSource*> open;
  std::vector<QPointer<TfrmEditSource>> kept;
  for (const QPointer<TfrmEditSource>& p : FEditors)
    if (p) {
      open.push_back(p.data());
      kept.push_back(p);
    }
  FEditors.swap(kept);
  return open;
}

// ---------------------------------------------------------------- window operations

String TForm1::GetGroupFilterText() { return S(bookGroupList->currentText()); }

void TForm1::SetGroupFilterItems(const std::vector<String>& AItems) {
  const QSignalBlocker block(bookGroupList);
  const QString text = bookGroupList->currentText();
  const int cursor = bookGroupList->lineEdit() ? bookGroupList->lineEdit()->cursorPosition() : 0;
  bookGroupList->clear();
  QStringList items{kAllGroups};
  for (const String& item : AItems) items.push_back(Q(item));
  bookGroupList->addItems(items);
  // The counts the logic has for these names (the drop-down shows them).
  const auto& counts = FLogic ? FLogic->GroupCounts() : std::vector<std::pair<String, int>>();
  for (size_t i = 0; i < AItems.size(); ++i)
    if (i < counts.size() && counts[i].first == AItems[i]) bookGroupList->setItemData(int(i) + 1, counts[i].second);
  // A picked group stays the picked item.
  const int picked = FLogic && FLogic->FilterIsExactGroup() ? bookGroupList->findText(text) : -1;
  if (picked > 0) bookGroupList->setCurrentIndex(picked);
  bookGroupList->setEditText(text);
  if (bookGroupList->lineEdit()) bookGroupList->lineEdit()->setCursorPosition(cursor);
}

void TForm1::SetRowCount(int ACount) {
  FListModel->SetCount(ACount);
  SyncSortIndicator();
}

void TForm1::SyncSortIndicator() {
  // The logic may have dropped the order (the list's own sort commands).
  if (!FLogic) return;
  QHeaderView* header = SrcTable->horizontalHeader();
  const int section = FLogic->ViewSortColumn() < 0 ? -1 : FLogic->ViewSortColumn() + 1;
  const Qt::SortOrder order = FLogic->ViewSortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder;
  if (header->sortIndicatorSection() == section && (section < 0 || header->sortIndicatorOrder() == order)) return;
  const QSignalBlocker block(header);
  header->setSortIndicator(section, order);
}

int TForm1::GetCurrentRow() {
  const QModelIndex current = SrcList->selectionModel()->currentIndex();
  return current.isValid() ? current.row() : -1;
}

bool TForm1::IsRowSelected(int ARow) {
  // Any cell: the list selects its one column, the table whole rows.
  return SrcList->selectionModel()->rowIntersectsSelection(ARow, QModelIndex());
}

void TForm1::SelectSingleRow(int ARow) {
  const QModelIndex index = FListModel->index(ARow, TableViewShown() ? 1 : 0);
  FSyncingRow = true;
  if (index.isValid()) {
    SrcList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    CurrentView()->scrollTo(index);
  } else if (ARow < 0) {
    SrcList->selectionModel()->clear();
  }
  FSyncingRow = false;
}

void TForm1::SetPlaceholderVisible(bool AVisible) {
  StaticText1->setVisible(AVisible);
  SrcList->setToolTip(AVisible ? QStringLiteral("将书源文件拖入此处") : QString());
}

void TForm1::SetStatusText(TStatusPanel APanel, const String& AText) {
  (APanel == spSourceCount ? StatusPanel0 : StatusPanel1)->setText(Q(AText));
}

String TForm1::GetEditorText() { return S(EditData->text()); }
void TForm1::SetEditorText(const String& AText) { EditData->setText(Q(AText)); }

String TForm1::InputName(const String& ACaption, const String& APrompt, const String& ADefault) {
  QString text = Q(ADefault);
  if (!InputQuery(this, Q(ACaption), Q(APrompt), text)) return ADefault;
  return S(text);
}

TSaveAnswer TForm1::AskSave(const String& AText, const String& ATitle) {
  switch (ShowMessage({this, QMessageBox::Information, Q(ATitle), Q(AText),
                       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel})) {
    case QMessageBox::Yes:
      return TSaveAnswer::Yes;
    case QMessageBox::No:
      return TSaveAnswer::No;
    default:
      return TSaveAnswer::Cancel;
  }
}

bool TForm1::ChooseOpenFile(const String& ATitle, String& AFileName) {
  QString name = AFileName.empty() ? LastFolder() : Q(AFileName);
  if (!ChooseSourceFile(this, Q(ATitle), false, name)) return false;
  AFileName = S(name);
  RememberFolder(name);
  AddRecentFile(name);
  return true;
}

bool TForm1::ChooseSaveFile(const String& ATitle, String& AFileName) {
  QString name = AFileName.empty() ? LastFolder() : Q(AFileName);
  if (!ChooseSourceFile(this, Q(ATitle), true, name)) return false;
  AFileName = S(name);
  RememberFolder(name);
  return true;
}

bool TForm1::ChooseReportFile(const String& ATitle, String& AFileName) {
  QString name = Q(AFileName);
  if (!::ChooseReportFile(this, Q(ATitle), name)) return false;
  AFileName = S(name);
  return true;
}

bool TForm1::RunReplaceGroupDialog(TReplaceGroupInput& AInput) { return TfrmReplaceGroup::Execute(this, AInput); }

void TForm1::ShowError(const String& AMessage) { ShowErrorBox(this, Q(AMessage)); }

void TForm1::ShowWarning(const String& AMessage) {
  ShowMessage({this, QMessageBox::Warning, QStringLiteral("提示"), Q(AMessage), QMessageBox::Ok});
}

void TForm1::ShowFileState(const String& AFileName, bool AModified) {
  if (!AFileName.empty()) AddRecentFile(Q(AFileName));
  QString title = QApplication::applicationName();
  if (!AFileName.empty()) title += QStringLiteral(" - ") + QFileInfo(Q(AFileName)).fileName();
  if (AModified) title += QStringLiteral(" *");
  setWindowTitle(title);
}

bool TForm1::AskYesNo(const String& AText, const String& ATitle, bool ADefault) {
  return ShowMessage({this, QMessageBox::Question, Q(ATitle), Q(AText), QMessageBox::Yes | QMessageBox::No,
                      ADefault ? QMessageBox::Yes : QMessageBox::No}) == QMessageBox::Yes;
}

void TForm1::SourceLeaving(JSONObject* AItem) {
  if (FEditors.empty()) return;
  for (TfrmEditSource* dialog : EditorDialogs())
    if (dialog->Data() == AItem) dialog->Detach();
}

TRunOptions TForm1::ReadRunOptions() {
  TRunOptions options;
  options.WorkerCount = S(Edit1->text());
  options.RemoveRepeat = CheckBox1->isChecked();
  options.RealDedupe = CheckBox3->isChecked();
  options.CheckSources = CheckBox2->isChecked();
  options.Probes = CheckBox4->isChecked() ? psAll : psSite;
  return options;
}

void TForm1::SetRunButton(TRunState AState, const String& ACaption) {
  const int was = FRunState;
  FRunState = AState;
  Button1->setProperty("Tag", int(AState));
  Button1->setText(Q(ACaption));
  if (AState == rsStopping)
    if (TForm2* wait = TForm2::Current()) wait->Label1->setText(QStringLiteral("正在停止..."));
  // The run finishes its end after this call: what it did is said after it.
  if (AState == rsIdle && was != rsIdle)
    QTimer::singleShot(0, this, [this] {
      if (FLogic) FLogic->RunCommand([this] { FLogic->RunEnded(); });
    });
  // A report exists once a check stage has run; it is written between runs.
  R3->setEnabled(AState == rsIdle && FLogic && FLogic->HasCheckReport());
}

void TForm1::ClearLog() {
  edtLog->setReadOnly(false);
  edtLog->clear();
  edtLog->setReadOnly(true);
}

void TForm1::AppendLog(const String& ALine) {
  // The pane is read-only for the user, not for the program.
  edtLog->setReadOnly(false);
  edtLog->append(Q(ALine) + '\n');
  edtLog->setReadOnly(true);
  const int last = edtLog->lines() - 1;
  edtLog->ensureLineVisible(last < 0 ? 0 : last);
}

void TForm1::SetProgress(int AMin, int AMax, int APosition) {
  ProgressBar1->setRange(AMin, AMax > AMin ? AMax : AMin + 1);
  ProgressBar1->setValue(APosition);
}

void TForm1::SetProgressVisible(bool AVisible) { ProgressBar1->setVisible(AVisible); }
void TForm1::StartStatusTimer() { Timer1->start(); }
void TForm1::StopStatusTimer() { Timer1->stop(); }
void TForm1::ShowWaitDialog() { TForm2::ShowWait(this, *FLogic); }
void TForm1::CloseWaitDialog() { TForm2::RequestClose(); }

void TForm1::SetWaitText(const String& AText) {
  // Stopping is what the user waits for now.
  if (FRunState == rsStopping) return;
  if (TForm2* wait = TForm2::Current())
    wait->ShowText(AText.empty() ? QStringLiteral("正在处理, 请等待...") : Q(AText));
}

// ---------------------------------------------------------------- views, filter, remembered settings

bool TForm1::TableViewShown() const { return ViewStack->currentWidget() == SrcTable; }

QAbstractItemView* TForm1::CurrentView() const {
  return TableViewShown() ? static_cast<QAbstractItemView*>(SrcTable) : static_cast<QAbstractItemView*>(SrcList);
}

void TForm1::SetTableView(bool ATable) {
  const bool focused = CurrentView()->hasFocus();
  ViewStack->setCurrentWidget(ATable ? static_cast<QWidget*>(SrcTable) : static_cast<QWidget*>(SrcList));
  ViewList->setChecked(!ATable);
  ViewTable->setChecked(ATable);
  // The current row stays; its cell is one the shown view has.
  const QModelIndex current = SrcList->selectionModel()->currentIndex();
  if (current.isValid()) {
    FSyncingRow = true;
    const QModelIndex cell = FListModel->index(current.row(), ATable ? 1 : 0);
    SrcList->selectionModel()->setCurrentIndex(cell, QItemSelectionModel::NoUpdate);
    FSyncingRow = false;
    CurrentView()->scrollTo(cell);
  }
  if (focused) CurrentView()->setFocus();
  PlacePlaceholder();
  QSettings().setValue(QStringLiteral("view/table"), ATable);
}

QString TForm1::GroupItemCaption(int AIndex) const {
  const QVariant count = bookGroupList->itemData(AIndex, Qt::UserRole);
  const QString text = bookGroupList->itemText(AIndex);
  return count.isValid() ? QStringLiteral("%1 (%2)").arg(text).arg(count.toInt()) : text;
}

void TForm1::FilterEdited(const QString& AText) {
  const int index = bookGroupList->currentIndex();
  bool exact = index > 0 && AText == bookGroupList->itemText(index);
  if (index == 0 && AText == kAllGroups) {
    // 全部: no filter, and the box is empty for typing.
    const QSignalBlocker block(bookGroupList);
    bookGroupList->setEditText(QString());
    exact = false;
  }
  FLogic->RunCommand([&] { FLogic->FilterChanged(exact); });
  // A new set of rows starts at its top.
  SrcList->scrollToTop();
  SrcTable->scrollToTop();
}

QString TForm1::LastFolder() { return QSettings().value(QStringLiteral("files/lastFolder")).toString(); }

void TForm1::RememberFolder(const QString& AFileName) {
  const QFileInfo info(AFileName);
  const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
  if (!folder.isEmpty()) QSettings().setValue(QStringLiteral("files/lastFolder"), folder);
}

QStringList TForm1::RecentFiles() const { return QSettings().value(QStringLiteral("files/recent")).toStringList(); }

void TForm1::AddRecentFile(const QString& AFileName) {
  const QString path = QFileInfo(AFileName).absoluteFilePath();
  QStringList recent = RecentFiles();
  if (!recent.isEmpty() && recent.front() == path) return;
  recent.removeAll(path);
  recent.prepend(path);
  while (recent.size() > kRecentFiles) recent.removeLast();
  QSettings().setValue(QStringLiteral("files/recent"), recent);
  UpdateRecentMenu();
}

void TForm1::UpdateRecentMenu() {
  RecentMenu->clear();
  const QStringList recent = RecentFiles();
  for (int i = 0; i < recent.size(); ++i) {
    const QString path = recent[i];
    QAction* item = RecentMenu->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path));
    connect(item, &QAction::triggered, this, [this, path] { OpenRecentFile(path); });
  }
  RecentMenu->setEnabled(!recent.isEmpty());
}

void TForm1::OpenRecentFile(const QString& AFileName) {
  if (!FLogic->MayDiscardSources()) return;
  if (!QFileInfo::exists(AFileName)) {
    // Gone since: it leaves the list.
    QStringList recent = RecentFiles();
    recent.removeAll(AFileName);
    QSettings().setValue(QStringLiteral("files/recent"), recent);
    UpdateRecentMenu();
    ShowError(S(QStringLiteral("文件不存在：") + AFileName));
    return;
  }
  RememberFolder(AFileName);
  FLogic->RunCommand([&] { FLogic->OpenSrcFile(S(AFileName)); });
}

// The window's comfort, never the collection: size, splitters, the view,
// the run options.
void TForm1::LoadSettings() {
  QSettings settings;
  const QByteArray geometry = settings.value(QStringLiteral("window/geometry")).toByteArray();
  if (!geometry.isEmpty()) restoreGeometry(geometry);
  const QByteArray split1 = settings.value(QStringLiteral("window/splitter1")).toByteArray();
  if (!split1.isEmpty()) Splitter1->restoreState(split1);
  const QByteArray split2 = settings.value(QStringLiteral("window/splitter2")).toByteArray();
  if (!split2.isEmpty()) Splitter2->restoreState(split2);
  const QByteArray columns = settings.value(QStringLiteral("view/columns")).toByteArray();
  if (!columns.isEmpty()) {
    QHeaderView* header = SrcTable->horizontalHeader();
    const QSignalBlocker block(header);
    header->restoreState(columns);
    // The order of the rows is the session's: it starts unsorted.
    header->setSortIndicator(-1, Qt::AscendingOrder);
    SrcTable->setColumnHidden(TSourceTableModel::kListColumn, true);
  }
  bool ok = false;
  const int workers = settings.value(QStringLiteral("run/workers")).toInt(&ok);
  if (ok && workers >= 1 && workers <= 1000) Edit1->setText(QString::number(workers));
  auto check = [&](QCheckBox* ABox, const char* AKey) {
    const QVariant v = settings.value(QLatin1String(AKey));
    if (v.isValid()) ABox->setChecked(v.toBool());
  };
  check(CheckBox1, "run/removeRepeat");
  check(CheckBox3, "run/realDedupe");
  check(CheckBox2, "run/check");
  check(CheckBox4, "run/deep");
  SetTableView(settings.value(QStringLiteral("view/table"), false).toBool());
  UpdateRecentMenu();
}

void TForm1::SaveSettings() {
  QSettings settings;
  settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
  settings.setValue(QStringLiteral("window/splitter1"), Splitter1->saveState());
  settings.setValue(QStringLiteral("window/splitter2"), Splitter2->saveState());
  settings.setValue(QStringLiteral("view/columns"), SrcTable->horizontalHeader()->saveState());
  settings.setValue(QStringLiteral("view/table"), TableViewShown());
  bool ok = false;
  const int workers = Edit1->text().toInt(&ok);
  if (ok && workers >= 1 && workers <= 1000) settings.setValue(QStringLiteral("run/workers"), workers);
  settings.setValue(QStringLiteral("run/removeRepeat"), CheckBox1->isChecked());
  settings.setValue(QStringLiteral("run/realDedupe"), CheckBox3->isChecked());
  settings.setValue(QStringLiteral("run/check"), CheckBox2->isChecked());
  settings.setValue(QStringLiteral("run/deep"), CheckBox4->isChecked());
}
