#include "ui/uFrmEditSource.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <charconv>
#include <cstring>
#include <mutex>

#include "app/uMainLogic.h"
#include "app/uSourceCheck.h"
#include "ui/uUiPrompts.h"

namespace {

QString Q(const String& S) { return QString::fromStdU16String(S); }

enum TInputKind { ikCombo, ikMemo, ikEdit };

struct TInputSpec {
  const char16_t* Key;
  TInputKind Kind;
  QRgb Colour;
  bool Bold;
};

constexpr QRgb kBlack = 0x000000, kRed = 0xFF0000, kTeal = 0x008080, kGreen = 0x008000, kNavy = 0x000080;

// The inputs in creation order: filling and reading walk them in this order.
const TInputSpec kInputs[] = {
    {u"bookSourceGroup", ikCombo, kBlack, true},
    {u"ruleFindUrl", ikMemo, kBlack, true},
    {u"bookSourceName", ikEdit, kRed, true},
    {u"bookSourceUrl", ikEdit, kRed, true},
    {u"loginUrl", ikEdit, kTeal, false},
    {u"ruleSearchUrl", ikEdit, kGreen, true},
    {u"ruleSearchList", ikEdit, kGreen, true},
    {u"ruleSearchName", ikEdit, kGreen, true},
    {u"ruleSearchAuthor", ikEdit, kGreen, true},
    {u"ruleSearchKind", ikEdit, kGreen, true},
    {u"ruleSearchLastChapter", ikEdit, kGreen, false},
    {u"ruleSearchCoverUrl", ikEdit, kGreen, true},
    {u"ruleSearchNoteUrl", ikEdit, kGreen, true},
    {u"ruleBookUrlPattern", ikEdit, kBlack, false},
    {u"ruleBookName", ikEdit, kBlack, false},
    {u"ruleBookAuthor", ikEdit, kBlack, false},
    {u"ruleCoverUrl", ikEdit, kBlack, false},
    {u"ruleBookKind", ikEdit, kBlack, false},
    {u"ruleBookLastChapter", ikEdit, kBlack, false},
    {u"ruleIntroduce", ikEdit, kBlack, true},
    {u"ruleChapterUrl", ikEdit, kBlack, true},
    {u"ruleChapterList", ikEdit, kBlack, true},
    {u"ruleChapterUrlNext", ikEdit, kBlack, false},
    {u"ruleChapterName", ikEdit, kNavy, true},
    {u"ruleContentUrl", ikEdit, kBlack, true},
    {u"ruleContentUrlNext", ikEdit, kBlack, false},
    {u"ruleBookContent", ikEdit, kNavy, true},
    {u"httpUserAgent", ikEdit, kTeal, false},
};

int FieldIndex(StringView AKey) {
  for (int i = 0; i < bsfFieldCount; ++i)
    if (AKey == TBookSourceItem::FieldKeys[i]) return i;
  return -1;
}

// A whole decimal integer in the 32-bit range, or nothing.
bool ParseDecimal(const QString& AText, int32_t& AValue) {
  const std::string digits = AText.toStdString();
  if (digits.empty()) return false;
  int32_t v = 0;
  const auto [end, err] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (err != std::errc() || end != digits.data() + digits.size()) return false;
  AValue = v;
  return true;
}

QFont FamilyFont(const QStringList& AFamilies, int APointSize, bool ABold = false) {
  QFont f;
  f.setFamilies(AFamilies);
  f.setPointSize(APointSize);
  f.setBold(ABold);
  return f;
}

const QStringList kSongTi = {"宋体", "SimSun", "NSimSun", "WenQuanYi Micro Hei", "Noto Sans CJK SC"};
const QStringList kCourier = {"Courier New", "DejaVu Sans Mono", "WenQuanYi Micro Hei Mono", "Monospace"};

const char kKeyProperty[] = "jsonKey";

QSize GRememberedSize(1198, 743);

}  // namespace

TfrmEditSource::TfrmEditSource(QWidget* AParent, TMainLogic& ALogic, QStringList AGroups)
    : QDialog(AParent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      FLogic(ALogic),
      FGroups(std::move(AGroups)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  FormCreate();
}

TfrmEditSource::~TfrmEditSource() {
  // A new source that was never confirmed belongs to nobody else.
  if (FOwnsData) delete FData;
}

void TfrmEditSource::FormCreate() {
  setObjectName("frmEditSource");
  setWindowTitle(QStringLiteral("编辑书源"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setWidgetResizable(true);
  ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox1->setFrameShape(QFrame::NoFrame);
  auto* content = new QWidget(ScrollBox1);
  auto* grid = new QGridLayout(content);
  grid->setContentsMargins(8, 8, 16, 8);
  grid->setHorizontalSpacing(0);
  grid->setVerticalSpacing(2);
  grid->setColumnMinimumWidth(0, 295 - 8);
  grid->setColumnStretch(1, 1);

  auto makeLabel = [content](const TInputSpec& ASpec) {
    const int index = FieldIndex(ASpec.Key);
    auto* label = new QLabel(Q(TBookSourceItem::FieldCaptions[index]), content);
    label->setFont(FamilyFont(kSongTi, 9, ASpec.Bold));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(ASpec.Colour));
    label->setPalette(pal);
    label->setObjectName(QStringLiteral("Label_") + QString::fromStdU16String(ASpec.Key));
    return label;
  };

  QComboBox* groupBox = nullptr;
  QPlainTextEdit* memo = nullptr;
  QLabel* groupLabel = nullptr;
  QLabel* memoLabel = nullptr;
  std::vector<std::pair<QLabel*, QWidget*>> rows;
  int editNo = 0;
  for (const TInputSpec& spec : kInputs) {
    QLabel* label = makeLabel(spec);
    QWidget* input = nullptr;
    switch (spec.Kind) {
      case ikCombo:
        groupBox = new QComboBox(content);
        groupBox->setObjectName("ComboBox1");
        groupBox->setEditable(true);
        groupBox->setMaxVisibleItems(20);
        groupBox->setInsertPolicy(QComboBox::NoInsert);
        input = groupBox;
        groupLabel = label;
        break;
      case ikMemo:
        memo = new QPlainTextEdit(content);
        memo->setObjectName("Memo1");
        memo->setFixedHeight(200);
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        input = memo;
        memoLabel = label;
        break;
      case ikEdit: {
        auto* edit = new QLineEdit(content);
        edit->setObjectName(QStringLiteral("Edit%1").arg(++editNo));
        if (editNo <= 2) edit->setPlaceholderText(QStringLiteral("必填"));
        input = edit;
        rows.emplace_back(label, edit);
        break;
      }
    }
    input->setFont(FamilyFont(kCourier, 9));
    input->setProperty(kKeyProperty, Q(spec.Key));
    FInputs.push_back(input);
  }

  // On screen: the name with the group to its right, then the other edits, the memo last.
  int row = 0;
  auto* nameRow = new QHBoxLayout();
  QWidget* nameEdit = rows.front().second;
  nameEdit->setFixedWidth(290);
  nameRow->addWidget(nameEdit);
  nameRow->addSpacing(12);
  nameRow->addWidget(groupLabel);
  nameRow->addWidget(groupBox, 1);
  grid->addWidget(rows.front().first, row, 0);
  grid->addLayout(nameRow, row++, 1);
  for (size_t i = 1; i < rows.size(); ++i) {
    grid->addWidget(rows[i].first, row, 0);
    grid->addWidget(rows[i].second, row++, 1);
  }
  grid->addWidget(memoLabel, row, 0, Qt::AlignTop);
  grid->addWidget(memo, row++, 1);
  grid->setRowStretch(row, 1);
  ScrollBox1->setWidget(content);
  layout->addWidget(ScrollBox1, 1);

  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFixedHeight(43);
  auto* buttons = new QHBoxLayout(Panel1);
  buttons->setContentsMargins(12, 6, 12, 6);
  CheckBox1 = new QCheckBox(QStringLiteral("启用书源"), Panel1);
  CheckBox1->setObjectName("CheckBox1");
  auto digitsOnly = [](QLineEdit* AEdit) {
    AEdit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), AEdit));
    AEdit->setFixedWidth(60);
  };
  Edit27 = new QLineEdit(QStringLiteral("0"), Panel1);
  Edit27->setObjectName("Edit27");
  digitsOnly(Edit27);
  Edit28 = new QLineEdit(QStringLiteral("0"), Panel1);
  Edit28->setObjectName("Edit28");
  digitsOnly(Edit28);
  Button3 = new QPushButton(QStringLiteral("测试书源(&T)"), Panel1);
  Button3->setObjectName("Button3");
  Button3->setAutoDefault(false);
  Button2 = new QPushButton(QStringLiteral("取消(&C)"), Panel1);
  Button2->setObjectName("Button2");
  Button2->setAutoDefault(false);
  Button1 = new QPushButton(QStringLiteral("确定(&O)"), Panel1);
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  buttons->addWidget(CheckBox1);
  buttons->addSpacing(16);
  buttons->addWidget(new QLabel(QStringLiteral("权重："), Panel1));
  buttons->addWidget(Edit27);
  buttons->addSpacing(16);
  buttons->addWidget(new QLabel(QStringLiteral("序列号："), Panel1));
  buttons->addWidget(Edit28);
  buttons->addStretch(1);
  buttons->addWidget(Button3);
  buttons->addWidget(Button2);
  buttons->addWidget(Button1);
  layout->addWidget(Panel1);

  connect(Button1, &QPushButton::clicked, this, &TfrmEditSource::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TfrmEditSource::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TfrmEditSource::Button3Click);

  WatchWheel(this);
  for (QWidget* child : findChildren<QWidget*>()) WatchWheel(child);
  resize(GRememberedSize);
}

QString TfrmEditSource::KeyOf(const QWidget* AInput) { return AInput->property(kKeyProperty).toString(); }

QSize TfrmEditSource::RememberedSize() { return GRememberedSize; }

void TfrmEditSource::SetData(JSONObject* AData, bool AOwned) {
  if (FOwnsData && FData != AData) delete FData;
  FData = AData;
  FOwnsData = AOwned;
}

void TfrmEditSource::showEvent(QShowEvent* AEvent) {
  QDialog::showEvent(AEvent);
  if (AEvent->spontaneous()) return;
  if (QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  FormShow();
}

void TfrmEditSource::FormShow() {
  auto* groupBox = findChild<QComboBox*>("ComboBox1");
  {
    const QSignalBlocker block(groupBox);
    groupBox->clear();
    groupBox->addItems(FGroups);
  }
  if (FData) {
    std::lock_guard<std::mutex> lock(FLogic.Sources().Lock());
    TBookSourceItem item(FData);
    // Sources of the newer format say "enabled"; the form edits what the source has.
    if (FData->Contains(u"enabled") && !FData->Contains(u"enable")) FEnableKey = QStringLiteral("enabled");
    CheckBox1->setChecked(FData->GetBoolean(FEnableKey.toStdU16String()));
    Edit27->setText(QString::number(item.weight()));
    Edit28->setText(QString::number(item.serialNumber()));
    for (QWidget* input : FInputs) {
      const QString key = KeyOf(input);
      if (key.isEmpty()) continue;
      const QString text = Q(FData->GetString(key.toStdU16String()));
      if (auto* edit = qobject_cast<QLineEdit*>(input))
        edit->setText(text);
      else if (auto* combo = qobject_cast<QComboBox*>(input))
        combo->setEditText(text);
      else if (auto* memo = qobject_cast<QPlainTextEdit*>(input))
        memo->setPlainText(QString(text).replace("\r\n", "\n").replace('\r', '\n'));
    }
  }
  FShownEnabled = CheckBox1->isChecked();
  FShownWeight = Edit27->text();
  FShownSerial = Edit28->text();
  FShownTexts.clear();
  for (QWidget* input : FInputs) FShownTexts.push_back(TextOf(input));
}

QString TfrmEditSource::TextOf(const QWidget* AInput) {
  if (auto* edit = qobject_cast<const QLineEdit*>(AInput)) return edit->text();
  if (auto* combo = qobject_cast<const QComboBox*>(AInput)) return combo->currentText();
  if (auto* memo = qobject_cast<const QPlainTextEdit*>(AInput)) return memo->toPlainText();
  return QString();
}

void TfrmEditSource::ApplayEdit(TBookSourceItem ASource) {
  // Only what was changed: a form shows no more than 31 of a source's members,
  // and writing the rest back would add empty ones or change their types.
  if (CheckBox1->isChecked() != FShownEnabled)
    ASource.Object()->SetBoolean(FEnableKey.toStdU16String(), CheckBox1->isChecked());
  int32_t v = 0;
  if (Edit27->text() != FShownWeight && ParseDecimal(Edit27->text(), v)) ASource.weight(v);
  if (Edit28->text() != FShownSerial && ParseDecimal(Edit28->text(), v)) ASource.serialNumber(v);
  for (size_t i = 0; i < FInputs.size(); ++i) {
    const QString key = KeyOf(FInputs[i]);
    QString text = TextOf(FInputs[i]);
    if (key.isEmpty() || (qsizetype(i) < FShownTexts.size() && text == FShownTexts[qsizetype(i)])) continue;
    if (qobject_cast<const QPlainTextEdit*>(FInputs[i])) text.replace('\n', QStringLiteral("\r\n"));
    ASource.Object()->SetString(key.toStdU16String(), text.toStdU16String());
  }
}

void TfrmEditSource::Detach() {
  if (FOwnsData) delete FData;
  FData = nullptr;
  FOwnsData = false;
  CallBack = nullptr;
  close();
}

void TfrmEditSource::Button1Click() {
  if (!FData) {
    close();
    return;
  }
  // A source of the collection that has gone since must not be written.
  if (!FOwnsData && !FLogic.HasSource(FData)) {
    ShowErrorBox(this, QStringLiteral("这个书源已不在书源列表中，修改无法保存。"));
    return;
  }
  // As the JSON editor: a source without an address is no source.
  JSONObject result;
  {
    std::lock_guard<std::mutex> lock(FLogic.Sources().Lock());
    result.Parse(FData->ToString(), false);
  }
  ApplayEdit(TBookSourceItem(&result));
  if (!TSourceCollection::IsSource(&result)) {
    ShowErrorBox(this, QStringLiteral("书源URL未设置，修改没有保存。"));
    return;
  }
  JSONObject* confirmed = FData;
  // From here the collection owns a new source.
  FOwnsData = false;
  if (CallBack)
    CallBack(confirmed, [this](JSONObject* ASource) { ApplayEdit(TBookSourceItem(ASource)); });
  else if (!FLogic.HasSource(confirmed))
    delete confirmed;  // nobody takes the new source
  close();
}

void TfrmEditSource::Button2Click() { close(); }

void TfrmEditSource::Button3Click() {
  JSONObject copy;
  {
    std::lock_guard<std::mutex> lock(FLogic.Sources().Lock());
    if (FData) copy.Parse(FData->ToString(), false);
  }
  ApplayEdit(TBookSourceItem(&copy));
  std::vector<String> lines;
  bool verdict = false;
  if (!FLogic.RunCommand([&] { verdict = TSourceChecker::CheckSource(&copy, true, &lines); })) return;
  QString text;
  for (const String& line : lines) text += Q(line) + QStringLiteral("\r\n");
  if (verdict)
    ShowMessage({this, QMessageBox::Information, QStringLiteral("恭喜, 检测通过!"), text, QMessageBox::Ok});
  else
    ShowMessage({this, QMessageBox::Warning, QStringLiteral("书源异常"), text, QMessageBox::Ok});
}

void TfrmEditSource::resizeEvent(QResizeEvent* AEvent) {
  QDialog::resizeEvent(AEvent);
  GRememberedSize = AEvent->size();
}

void TfrmEditSource::WatchWheel(QWidget* AWidget) { AWidget->installEventFilter(this); }

bool TfrmEditSource::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AEvent->type() == QEvent::ChildAdded) {
    auto* added = static_cast<QChildEvent*>(AEvent);
    if (added->child()->isWidgetType()) WatchWheel(static_cast<QWidget*>(added->child()));
  }
  if (AEvent->type() != QEvent::Wheel) return QDialog::eventFilter(AWatched, AEvent);
  auto* wheel = static_cast<QWheelEvent*>(AEvent);
  // An unhandled turn climbs the parents as copies with the same stamp: scroll once.
  const QPoint delta = wheel->angleDelta();
  const QPoint pos = wheel->globalPosition().toPoint();
  const qint64 stamp = qint64(wheel->timestamp());
  if (!(stamp == FWheelStamp && delta == FWheelDelta && pos == FWheelPos)) {
    FWheelStamp = stamp;
    FWheelDelta = delta;
    FWheelPos = pos;
    QScrollBar* bar = ScrollBox1->verticalScrollBar();
    bar->triggerAction(delta.y() < 0 ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub);
  }
  // The scroll area would scroll again by several lines: the line above is the scroll.
  if (AWatched == ScrollBox1 || AWatched == ScrollBox1->viewport() || AWatched == ScrollBox1->verticalScrollBar())
    return true;
  return false;
}
