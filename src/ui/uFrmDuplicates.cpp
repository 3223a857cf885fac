#include "ui/uFrmDuplicates.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/uMainLogic.h"
#include "support/KivStr.h"
#include "ui/uUiPrompts.h"

namespace {

QString Q(const String& S) { return QString::fromStdU16String(S); }

// Sets whose members all fit are opened at once; longer lists stay folded.
constexpr size_t kExpandMembers = 2000;

// A set's row: its number, its reason and its size.
QString SetText(const TDuplicateSet& ASet, int ARow, bool ARealDedupe) {
  return QStringLiteral("%1. %2（%3 个）").arg(ARow + 1).arg(Q(DuplicateReasonText(ASet, ARealDedupe))).arg(ASet.Members.size());
}

QString MemberText(const TDuplicateSet& ASet, int AMember) {
  const TDuplicateMember& m = ASet.Members[size_t(AMember)];
  const bool kept = !ASet.Remove || AMember == ASet.Kept;
  return QStringLiteral("%1  #%2  %3").arg(kept ? QStringLiteral("保留") : QStringLiteral("删除")).arg(m.Position + 1)
      .arg(Q(DuplicateMemberText(m.Source)));
}

bool ChooseTextFile(QWidget* AParent, const QString& ATitle, QString& AFileName) {
  if (TUiPrompts::FileHook) return TUiPrompts::FileHook(ATitle, true, AFileName);
  QFileDialog dialog(AParent, ATitle);
  dialog.setObjectName("SaveDialog2");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters({QStringLiteral("文本文件(*.txt)"), QStringLiteral("所有文件(*.*)")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  AFileName = dialog.selectedFiles().first();
  return true;
}

void Inform(QWidget* AParent, const QString& AText) {
  ShowMessage({AParent, QMessageBox::Information, QStringLiteral("提示"), AText, QMessageBox::Ok});
}

}  // namespace

// ---------------------------------------------------------------- the model

void TDuplicateSetsModel::SetSets(std::vector<TDuplicateSet> ASets, bool ARealDedupe) {
  beginResetModel();
  FSets = std::move(ASets);
  FRealDedupe = ARealDedupe;
  endResetModel();
  emit SetsChanged();
}

// Sets have the id 0, members the row of their set plus one.
QModelIndex TDuplicateSetsModel::index(int ARow, int AColumn, const QModelIndex& AParent) const {
  if (AColumn != 0 || ARow < 0) return {};
  if (!AParent.isValid()) return size_t(ARow) < FSets.size() ? createIndex(ARow, 0, quintptr(0)) : QModelIndex();
  if (AParent.internalId() != 0 || size_t(AParent.row()) >= FSets.size()) return {};
  if (size_t(ARow) >= FSets[size_t(AParent.row())].Members.size()) return {};
  return createIndex(ARow, 0, quintptr(AParent.row()) + 1);
}

QModelIndex TDuplicateSetsModel::parent(const QModelIndex& AIndex) const {
  if (!AIndex.isValid() || AIndex.internalId() == 0) return {};
  return createIndex(int(AIndex.internalId() - 1), 0, quintptr(0));
}

int TDuplicateSetsModel::rowCount(const QModelIndex& AParent) const {
  if (!AParent.isValid()) return int(FSets.size());
  if (AParent.internalId() != 0 || size_t(AParent.row()) >= FSets.size()) return 0;
  return int(FSets[size_t(AParent.row())].Members.size());
}

int TDuplicateSetsModel::columnCount(const QModelIndex&) const { return 1; }

QVariant TDuplicateSetsModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!AIndex.isValid()) return {};
  if (AIndex.internalId() == 0) {
    const TDuplicateSet& set = FSets[size_t(AIndex.row())];
    if (ARole == Qt::DisplayRole) return SetText(set, AIndex.row(), FRealDedupe);
    if (ARole == Qt::CheckStateRole) return set.Remove ? Qt::Checked : Qt::Unchecked;
    return {};
  }
  const TDuplicateSet& set = FSets[size_t(AIndex.internalId() - 1)];
  if (ARole == Qt::DisplayRole) return MemberText(set, AIndex.row());
  if (ARole == Qt::CheckStateRole) return AIndex.row() == set.Kept ? Qt::Checked : Qt::Unchecked;
  return {};
}

bool TDuplicateSetsModel::setData(const QModelIndex& AIndex, const QVariant& AValue, int ARole) {
  if (!AIndex.isValid() || ARole != Qt::CheckStateRole) return false;
  const bool checked = AValue.toInt() == Qt::Checked;
  const int setRow = AIndex.internalId() == 0 ? AIndex.row() : int(AIndex.internalId() - 1);
  TDuplicateSet& set = FSets[size_t(setRow)];
  if (AIndex.internalId() == 0) {
    set.Remove = checked;
  } else {
    // One copy is always kept: checking another moves the mark, unchecking it does nothing.
    if (!checked || AIndex.row() == set.Kept) return false;
    set.Kept = AIndex.row();
  }
  const QModelIndex setIndex = index(setRow, 0);
  emit dataChanged(setIndex, setIndex);
  emit dataChanged(index(0, 0, setIndex), index(int(set.Members.size()) - 1, 0, setIndex));
  emit SetsChanged();
  return true;
}

Qt::ItemFlags TDuplicateSetsModel::flags(const QModelIndex& AIndex) const {
  if (!AIndex.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

// ---------------------------------------------------------------- the dialog

TfrmDuplicates::TfrmDuplicates(QWidget* AOwner, TMainLogic& ALogic, bool ARealDedupe)
    : QDialog(AOwner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
      FLogic(ALogic) {
  setObjectName("frmDuplicates");
  setWindowTitle(QStringLiteral("查找重复书源"));
  resize(760, 520);
  auto* layout = new QVBoxLayout(this);

  auto* choose = new QHBoxLayout();
  cbMode = new QComboBox(this);
  cbMode->setObjectName("cbMode");
  cbMode->addItems({QStringLiteral("按规则（同“去除重复”）"), QStringLiteral("按书源URL（完全相同）"),
                    QStringLiteral("按站点（忽略 http/https、www.、#标记、末尾 /、默认端口）")});
  cbKeep = new QComboBox(this);
  cbKeep->setObjectName("cbKeep");
  cbKeep->addItems({QStringLiteral("第一个"), QStringLiteral("最后一个"), QStringLiteral("最新（lastUpdateTime）"),
                    QStringLiteral("规则最多"), QStringLiteral("最快（本次校验用时或 respondTime）")});
  cbRealDedupe = new QCheckBox(QStringLiteral("不比较名称和分组"), this);
  cbRealDedupe->setObjectName("cbRealDedupe");
  cbRealDedupe->setChecked(ARealDedupe);
  btnFind = new QPushButton(QStringLiteral("查找(&S)"), this);
  btnFind->setObjectName("btnFind");
  btnFind->setDefault(true);
  choose->addWidget(new QLabel(QStringLiteral("重复的判断："), this));
  choose->addWidget(cbMode, 1);
  choose->addWidget(cbRealDedupe);
  choose->addWidget(new QLabel(QStringLiteral("保留："), this));
  choose->addWidget(cbKeep);
  choose->addWidget(btnFind);
  layout->addLayout(choose);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setRange(0, 1);
  ProgressBar1->setValue(0);
  layout->addWidget(ProgressBar1);
  lbSummary = new QLabel(QStringLiteral("选择判断方式和保留哪一个，然后点“查找”。"), this);
  lbSummary->setObjectName("lbSummary");
  layout->addWidget(lbSummary);

  FModel = new TDuplicateSetsModel(this);
  tvSets = new QTreeView(this);
  tvSets->setObjectName("tvSets");
  tvSets->setHeaderHidden(true);
  tvSets->setUniformRowHeights(true);
  tvSets->setModel(FModel);
  layout->addWidget(tvSets, 1);

  auto* buttons = new QHBoxLayout();
  btnExport = new QPushButton(QStringLiteral("导出列表(&E)..."), this);
  btnExport->setObjectName("btnExport");
  btnExport->setAutoDefault(false);
  btnRemove = new QPushButton(QStringLiteral("删除选中组的其余书源(&D)"), this);
  btnRemove->setObjectName("btnRemove");
  btnRemove->setAutoDefault(false);
  btnClose = new QPushButton(QStringLiteral("关闭(&C)"), this);
  btnClose->setObjectName("btnClose");
  btnClose->setAutoDefault(false);
  buttons->addWidget(btnExport);
  buttons->addStretch(1);
  buttons->addWidget(btnRemove);
  buttons->addWidget(btnClose);
  layout->addLayout(buttons);

  FTimer = new QTimer(this);
  FTimer->setInterval(50);
  connect(FTimer, &QTimer::timeout, this, &TfrmDuplicates::Poll);
  connect(btnFind, &QPushButton::clicked, this, &TfrmDuplicates::FindClick);
  connect(btnRemove, &QPushButton::clicked, this, &TfrmDuplicates::RemoveClick);
  connect(btnExport, &QPushButton::clicked, this, &TfrmDuplicates::ExportClick);
  connect(btnClose, &QPushButton::clicked, this, &TfrmDuplicates::reject);
  connect(cbMode, &QComboBox::currentIndexChanged, this,
          [this](int AIndex) { cbRealDedupe->setEnabled(AIndex == int(TDuplicateMode::Rules)); });
  connect(FModel, &TDuplicateSetsModel::SetsChanged, this, &TfrmDuplicates::UpdateSummary);
  UpdateSummary();
}

TfrmDuplicates::~TfrmDuplicates() {
  // The job reads the sources: it ends before anything else can change them.
  FJob.reset();
}

void TfrmDuplicates::Execute(QWidget* AOwner, TMainLogic& ALogic, bool ARealDedupe) {
  if (ALogic.RunState() != rsIdle) {
    Inform(AOwner, QStringLiteral("正在处理书源，请等处理结束后再查找重复书源。"));
    return;
  }
  if (ALogic.Sources().Count() == 0) {
    Inform(AOwner, QStringLiteral("书源列表是空的。"));
    return;
  }
  // Modal: nothing changes the collection while the scan reads it and the sets name its sources.
  TfrmDuplicates dialog(AOwner, ALogic, ARealDedupe);
  dialog.exec();
}

TDuplicateOptions TfrmDuplicates::ChosenOptions() {
  TDuplicateOptions options;
  options.Mode = TDuplicateMode(cbMode->currentIndex());
  options.Keep = TKeepPolicy(cbKeep->currentIndex());
  options.RealDedupe = cbRealDedupe->isChecked();
  if (options.Keep == TKeepPolicy::Fastest)
    options.MeasuredMs = MeasuredTimes(FLogic.CheckOutcomes(), SourcesOf(FLogic.Sources()));
  return options;
}

void TfrmDuplicates::FindClick() {
  if (FJob) {
    FJob->Stop();
    return;
  }
  const TDuplicateOptions options = ChosenOptions();
  FScanRealDedupe = options.RealDedupe;
  FHaveResult = false;
  FModel->SetSets({}, FScanRealDedupe);
  FJob = std::make_unique<TDuplicateScanJob>();
  FJob->Start(FLogic.Sources(), options);
  for (QWidget* w : {static_cast<QWidget*>(cbMode), static_cast<QWidget*>(cbKeep),
                     static_cast<QWidget*>(cbRealDedupe), static_cast<QWidget*>(btnRemove),
                     static_cast<QWidget*>(btnExport)})
    w->setEnabled(false);
  btnFind->setText(QStringLiteral("停止(&S)"));
  lbSummary->setText(QStringLiteral("正在查找..."));
  ProgressBar1->setRange(0, std::max(FJob->Max(), 1));
  ProgressBar1->setValue(0);
  FTimer->start();
}

void TfrmDuplicates::Poll() {
  if (!FJob) return;
  ProgressBar1->setRange(0, std::max(FJob->Max(), 1));
  ProgressBar1->setValue(std::min(FJob->Position(), ProgressBar1->maximum()));
  if (FJob->Done()) ScanEnded();
}

void TfrmDuplicates::ScanEnded() {
  FTimer->stop();
  TDuplicateScan scan = FJob->TakeResult();
  const String error = FJob->Error();
  FJob.reset();
  btnFind->setText(QStringLiteral("查找(&S)"));
  cbMode->setEnabled(true);
  cbKeep->setEnabled(true);
  cbRealDedupe->setEnabled(cbMode->currentIndex() == int(TDuplicateMode::Rules));
  const bool stopped = scan.Stopped;
  FHaveResult = !stopped && error.empty();
  const size_t members = size_t(scan.Surplus()) + scan.Sets.size();
  FModel->SetSets(std::move(scan.Sets), FScanRealDedupe);
  if (members <= kExpandMembers) tvSets->expandAll();
  if (!error.empty()) ShowErrorBox(this, Q(error));
  if (stopped) lbSummary->setText(QStringLiteral("已停止。"));
}

void TfrmDuplicates::UpdateSummary() {
  const std::vector<TDuplicateSet>& sets = FModel->Sets();
  int chosen = 0, leaving = 0;
  for (const TDuplicateSet& s : sets)
    if (s.Remove) {
      ++chosen;
      leaving += int(s.Members.size()) - 1;
    }
  if (FHaveResult)
    lbSummary->setText(sets.empty() ? QStringLiteral("没有找到重复书源。")
                                    : QStringLiteral("共 %1 组重复书源；选中 %2 组，将删除 %3 个书源。")
                                          .arg(sets.size())
                                          .arg(chosen)
                                          .arg(leaving));
  btnRemove->setEnabled(FHaveResult && !FJob && leaving > 0);
  btnExport->setEnabled(FHaveResult && !FJob && !sets.empty());
}

void TfrmDuplicates::RemoveClick() {
  if (FJob) return;
  // The view lets go of the sets first: an error box's event loop must not
  // paint copies that are gone.
  const std::vector<TDuplicateSet> sets = FModel->Sets();
  FHaveResult = false;
  FModel->SetSets({}, FScanRealDedupe);
  int removed = 0;
  if (!FLogic.RunCommand([&] { removed = RemoveDuplicateSets(FLogic, sets); })) {
    reject();
    return;
  }
  FLogic.Log(Format(u"删除重复书源：%d个", removed));
  accept();
}

void TfrmDuplicates::ExportClick() {
  if (FJob || FModel->Sets().empty()) return;
  QString name;
  if (!ChooseTextFile(this, QStringLiteral("导出重复书源列表"), name)) return;
  const Bytes text = EncodeUTF8(DuplicateSetsText(FModel->Sets(), FScanRealDedupe));
  QFile file(name);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(reinterpret_cast<const char*>(text.data()), qint64(text.size())) != qint64(text.size()) ||
      !file.flush()) {
    ShowErrorBox(this, QStringLiteral("无法写入文件：%1（%2）").arg(name, file.errorString()));
    return;
  }
}

void TfrmDuplicates::reject() {
  // A running scan ends before the dialog goes.
  if (FJob) {
    FJob->Stop();
    FJob.reset();
    FTimer->stop();
  }
  QDialog::reject();
}
