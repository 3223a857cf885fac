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
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>

#include "app/uBookSource3.h"
#include "app/uMainLogic.h"
#include "app/uSourceCheck.h"
#include "app/uStrictJson.h"
#include "json/KivJson.h"
#include "support/KivStr.h"
#include "ui/uSourceTestJob.h"
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

// How a field of the current format's pages reads and writes its member.
enum TFieldKind {
  fkLine,     // text, one line
  fkMemo,     // text, several lines
  fkGroup,    // text, the group drop-down
  fkType,     // integer 0..3 from a drop-down
  fkInt,      // integer
  fkBool,     // switch, on when absent
  fkHeader,   // `header`: an object or its text
  fkExplore,  // `exploreUrl`: text or an array
  fkRule,     // a member of a rule object
};

struct TField3 {
  const char16_t* Key;
  const char* Caption;
  TFieldKind Kind;
};

const TField3 kBasic3[] = {
    {u"bookSourceName", "书源名称", fkLine},
    {u"bookSourceUrl", "书源URL", fkLine},
    {u"bookSourceGroup", "书源分组", fkGroup},
    {u"bookSourceType", "书源类型", fkType},
    {u"enabled", "书源开关", fkBool},
    {u"enabledExplore", "发现开关", fkBool},
    {u"customOrder", "手动排序", fkInt},
    {u"weight", "权重", fkInt},
    {u"concurrentRate", "并发率", fkLine},
    {u"loginUrl", "登录URL", fkLine},
    {u"bookUrlPattern", "书籍详情URL正则", fkLine},
    {u"header", "请求头", fkHeader},
    {u"bookSourceComment", "书源注释", fkMemo},
};

const TField3 kAddresses3[] = {
    {u"searchUrl", "搜索地址", fkMemo},
    {u"exploreUrl", "发现地址", fkExplore},
};

const char* const kTypeNames[] = {"文本", "音频", "图片", "文件"};

struct TCaption {
  const char16_t* Key;
  const char* Caption;
};

const TCaption kRuleCaptions[] = {
    {u"ruleSearch", "搜索规则"},    {u"ruleExplore", "发现规则"}, {u"ruleBookInfo", "详情规则"},
    {u"ruleToc", "目录规则"},       {u"ruleContent", "正文规则"}, {u"ruleReview", "段评规则"},
};

const TCaption kMemberCaptions[] = {
    {u"checkKeyWord", "校验关键字"}, {u"bookList", "书籍列表"},       {u"name", "书名"},
    {u"author", "作者"},             {u"intro", "简介"},               {u"kind", "分类"},
    {u"lastChapter", "最新章节"},    {u"updateTime", "更新时间"},     {u"bookUrl", "书籍URL"},
    {u"coverUrl", "封面URL"},        {u"wordCount", "字数"},           {u"init", "预处理"},
    {u"tocUrl", "目录URL"},          {u"canReName", "允许修改书名"},   {u"downloadUrls", "下载URL"},
    {u"preUpdateJs", "更新目录前JS"}, {u"chapterList", "目录列表"},    {u"chapterName", "章节名称"},
    {u"chapterUrl", "章节URL"},      {u"formatJs", "格式化JS"},        {u"isVolume", "卷名标识"},
    {u"isVip", "VIP标识"},           {u"isPay", "购买标识"},           {u"nextTocUrl", "目录下一页URL"},
    {u"content", "正文"},            {u"title", "章节标题"},           {u"nextContentUrl", "正文下一页URL"},
    {u"webJs", "网页JS"},            {u"sourceRegex", "资源正则"},     {u"replaceRegex", "替换正则"},
    {u"imageStyle", "图片样式"},     {u"imageDecode", "图片解密"},     {u"payAction", "购买操作"},
    {u"reviewUrl", "段评URL"},       {u"avatarRule", "头像"},          {u"contentRule", "段评内容"},
    {u"postTimeRule", "发布时间"},   {u"reviewQuoteUrl", "段评回复URL"}, {u"voteUpUrl", "点赞URL"},
    {u"voteDownUrl", "点踩URL"},     {u"postReviewUrl", "发表段评URL"}, {u"postQuoteUrl", "回复段评URL"},
    {u"deleteUrl", "删除段评URL"},
};

QString CaptionOf(const TCaption* ABegin, const TCaption* AEnd, StringView AKey) {
  for (const TCaption* c = ABegin; c != AEnd; ++c)
    if (AKey == c->Key) return QString::fromUtf8(c->Caption);
  return Q(String(AKey));
}

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
const char kKindProperty[] = "fieldKind";
const char kRuleProperty[] = "jsonRule";
const char kMemberProperty[] = "jsonMember";
// The member's text had CR LF line ends: an edit writes them back so.
const char kCrLfProperty[] = "crlf";

QSize GRememberedSize(1198, 743);

// The text as typed. toPlainText() would turn no-break spaces into spaces,
// which rules that remove them rely on.
QString MemoText(const QPlainTextEdit* AMemo) {
  QString text = AMemo->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  return text;
}

QString ForDisplay(QString AText) { return AText.replace("\r\n", "\n").replace('\r', '\n'); }

bool IsScriptText(const QString& AText) {
  const QString t = AText.trimmed().toLower();
  return t.startsWith(QLatin1String("@js:")) || t.startsWith(QLatin1String("<js>"));
}

// Numbers and switches keep the JSON type they are stored with: a file that
// quotes them keeps doing so, the rest get real numbers and booleans.
void WriteInt(JSONObject* ASource, StringView AKey, int64_t AValue) {
  PJSONValue v = ASource->GetItem(AKey);
  if (v && v->Type() == jdtString)
    ASource->SetString(AKey, QString::number(AValue).toStdU16String());
  else
    ASource->SetInt64(AKey, AValue);
}

void WriteBool(JSONObject* ASource, StringView AKey, bool AValue) {
  PJSONValue v = ASource->GetItem(AKey);
  if (v && v->Type() == jdtString)
    ASource->SetString(AKey, AValue ? u"true" : u"false");
  else
    ASource->SetBoolean(AKey, AValue);
}

// The container a member holds (object or array), or nothing.
const JSONBase* ContainerOf(const JSONObject* ASource, StringView AKey) {
  PJSONValue v = ASource->GetItem(AKey);
  return v && v->Type() == jdtObject ? v->GetObject() : nullptr;
}

// Whether the form can edit a rule without losing it: absent, null, an
// object, or text that is blank or holds an object (as TBookSource3 reads it).
bool RuleEditable(const JSONObject* ASource, StringView ARule) {
  PJSONValue v = ASource->GetItem(ARule);
  if (!v || v->Type() == jdtNull) return true;
  if (v->Type() == jdtObject) return v->GetObject() && v->GetObject()->IsJSONObject();
  if (v->Type() != jdtString) return false;
  const String text = Trim(v->AsString());
  if (text.empty()) return true;
  if (text[0] != u'{') return false;
  JSONObject parsed;
  try {
    parsed.Parse(text, false);
  } catch (const Exception&) {
    return false;
  }
  return true;
}

// A strict JSON text whose value is an object (AArray: an array); else the fault in AError.
bool IsJsonContainer(const QString& AText, bool AArray, QString& AError) {
  TJsonSyntaxIssue issue;
  if (!IsStrictJson(AText.toStdU16String(), issue)) {
    AError = QStringLiteral("第%1行第%2列: %3").arg(issue.Line).arg(issue.Column).arg(Q(issue.Message));
    return false;
  }
  const QString t = AText.trimmed();
  return !t.isEmpty() && t[0] == (AArray ? QLatin1Char('[') : QLatin1Char('{'));
}

int MemoHeight(const QPlainTextEdit* AMemo, int ALines) {
  return AMemo->fontMetrics().lineSpacing() * ALines + 2 * AMemo->frameWidth() +
         int(2 * AMemo->document()->documentMargin()) + 2;
}

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

JSONObject* TfrmEditSource::NewFormat3Source() {
  auto* source = new JSONObject();
  source->SetInt64(u"bookSourceType", 0);
  source->SetInt64(u"customOrder", 0);
  source->SetBoolean(u"enabled", true);
  source->SetBoolean(u"enabledExplore", true);
  source->SetInt64(u"weight", 0);
  return source;
}

JSONObject* TfrmEditSource::AskNewSource(QWidget* AParent) {
  TMessageRequest ask{AParent,
                      QMessageBox::Question,
                      QStringLiteral("新建书源"),
                      QStringLiteral("新书源用哪种格式？\n\n新格式：搜索地址 searchUrl，规则在 ruleSearch、ruleToc 等对象里；"
                                     "现在交换的书源多是这种。\n旧格式：ruleSearchUrl、ruleSearchList 等平铺字段。"),
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                      QMessageBox::Yes};
  ask.ButtonTexts = {{QMessageBox::Yes, QStringLiteral("新格式(&3)")},
                     {QMessageBox::No, QStringLiteral("旧格式(&2)")},
                     {QMessageBox::Cancel, QStringLiteral("取消")}};
  switch (ShowMessage(ask)) {
    case QMessageBox::Yes:
      return NewFormat3Source();
    case QMessageBox::No:
      return new JSONObject();
    default:
      return nullptr;
  }
}

void TfrmEditSource::FormCreate() {
  setObjectName("frmEditSource");
  setWindowTitle(QStringLiteral("编辑书源"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

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
  FWeightLabel = new QLabel(QStringLiteral("权重："), Panel1);
  FSerialLabel = new QLabel(QStringLiteral("序列号："), Panel1);
  buttons->addWidget(CheckBox1);
  buttons->addSpacing(16);
  buttons->addWidget(FWeightLabel);
  buttons->addWidget(Edit27);
  buttons->addSpacing(16);
  buttons->addWidget(FSerialLabel);
  buttons->addWidget(Edit28);
  buttons->addStretch(1);
  buttons->addWidget(Button3);
  buttons->addWidget(Button2);
  buttons->addWidget(Button1);
  layout->addWidget(Panel1);

  connect(Button1, &QPushButton::clicked, this, &TfrmEditSource::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TfrmEditSource::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TfrmEditSource::Button3Click);

  resize(GRememberedSize);
}

void TfrmEditSource::BuildBody(bool AFormat3) {
  if (FBody && FFormat3 == AFormat3) return;
  if (FBody) {
    // The switch and the weight sit on the first page of the current format: home first.
    auto* buttons = static_cast<QHBoxLayout*>(Panel1->layout());
    if (CheckBox1->parentWidget() != Panel1) buttons->insertWidget(0, CheckBox1);
    if (Edit27->parentWidget() != Panel1) buttons->insertWidget(buttons->indexOf(FWeightLabel) + 1, Edit27);
    delete FBody;
    FBody = nullptr;
    ScrollBox1 = nullptr;
    PageControl1 = nullptr;
    lblMixed = nullptr;
    FInputs.clear();
    FShownTexts.clear();
  }
  FFormat3 = AFormat3;
  auto* body = new QWidget(this);
  auto* bodyLayout = new QVBoxLayout(body);
  bodyLayout->setContentsMargins(0, 0, 0, 0);
  if (AFormat3)
    BuildFormat3Body(body);
  else
    BuildFormat2Body(body);
  FBody = body;
  static_cast<QVBoxLayout*>(layout())->insertWidget(0, body, 1);
  FWeightLabel->setVisible(!AFormat3);
  FSerialLabel->setVisible(!AFormat3);
  Edit28->setVisible(!AFormat3);
  // The current format's weight may be negative; the serial number is the flat format's alone.
  Edit27->setValidator(
      new QRegularExpressionValidator(QRegularExpression(AFormat3 ? "-?[0-9]*" : "[0-9]*"), Edit27));
  Edit27->setFixedWidth(AFormat3 ? 100 : 60);
  FEnableKey = AFormat3 ? QStringLiteral("enabled") : QStringLiteral("enable");
  WatchWheel(this);
  for (QWidget* child : findChildren<QWidget*>()) WatchWheel(child);
}

void TfrmEditSource::BuildFormat2Body(QWidget* AParent) {
  ScrollBox1 = new QScrollArea(AParent);
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
  AParent->layout()->addWidget(ScrollBox1);
}

void TfrmEditSource::BuildFormat3Body(QWidget* AParent) {
  PageControl1 = new QTabWidget(AParent);
  PageControl1->setObjectName("PageControl1");
  AParent->layout()->addWidget(PageControl1);

  // A page: a scrolling grid of captions and inputs.
  auto addPage = [this](const QString& AName, const QString& ACaption) {
    auto* area = new QScrollArea(PageControl1);
    area->setObjectName(QStringLiteral("Page_") + AName);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(area);
    auto* grid = new QGridLayout(content);
    grid->setContentsMargins(8, 8, 16, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->setColumnMinimumWidth(0, 220);
    grid->setColumnStretch(1, 1);
    area->setWidget(content);
    PageControl1->addTab(area, ACaption);
    return grid;
  };
  auto addRow = [this](QGridLayout* AGrid, const QString& AKey, const QString& ACaption, TFieldKind AKind,
                       QWidget* AInput, bool ARequired = false) {
    QWidget* content = AGrid->parentWidget();
    auto* label = new QLabel(ACaption + QStringLiteral("：(") + AKey.section('.', -1) + ')', content);
    label->setObjectName(QStringLiteral("Label_") + AKey);
    label->setFont(FamilyFont(kSongTi, 9, ARequired));
    if (ARequired) {
      QPalette pal = label->palette();
      pal.setColor(QPalette::WindowText, QColor(kRed));
      label->setPalette(pal);
    }
    const int row = AGrid->rowCount();
    const bool tall = qobject_cast<QPlainTextEdit*>(AInput) != nullptr;
    AGrid->addWidget(label, row, 0, tall ? Qt::AlignTop : Qt::Alignment());
    AGrid->addWidget(AInput, row, 1);
    AInput->setProperty(kKeyProperty, AKey);
    AInput->setProperty(kKindProperty, int(AKind));
    if (AInput != CheckBox1 && AInput != Edit27) AInput->setFont(FamilyFont(kCourier, 9));
    FInputs.push_back(AInput);
  };
  auto newMemo = [](QWidget* AParentWidget, const QString& AName, int ALines) {
    auto* memo = new QPlainTextEdit(AParentWidget);
    memo->setObjectName(AName);
    memo->setFont(FamilyFont(kCourier, 9));
    memo->setFixedHeight(MemoHeight(memo, ALines));
    return memo;
  };
  auto newEdit = [](QWidget* AParentWidget, const QString& AName) {
    auto* edit = new QLineEdit(AParentWidget);
    edit->setObjectName(AName);
    edit->setMaxLength(INT_MAX);  // the default cuts long texts
    return edit;
  };
  const auto signedDigits = [](QLineEdit* AEdit) {
    AEdit->setValidator(new QRegularExpressionValidator(QRegularExpression("-?[0-9]*"), AEdit));
    AEdit->setFixedWidth(100);
  };

  QGridLayout* grid = addPage(QStringLiteral("basic"), QStringLiteral("基本"));
  QWidget* content = grid->parentWidget();
  lblMixed = new QLabel(QStringLiteral("这个书源也有旧格式的成员（ruleSearchUrl 等）：表单只显示新格式的成员，"
                                       "旧格式的成员保持不变，阅读软件以新格式的成员为准。"),
                        content);
  lblMixed->setObjectName("lblMixed");
  lblMixed->setWordWrap(true);
  lblMixed->setVisible(false);
  grid->addWidget(lblMixed, 0, 0, 1, 2);
  for (const TField3& f : kBasic3) {
    const QString key = Q(f.Key);
    const QString caption = QString::fromUtf8(f.Caption);
    const bool required = key == QLatin1String("bookSourceName") || key == QLatin1String("bookSourceUrl");
    QWidget* input = nullptr;
    switch (f.Kind) {
      case fkLine: {
        // The names the flat form gives these two, so both forms answer to them.
        const QString name = key == QLatin1String("bookSourceName")  ? QStringLiteral("Edit1")
                             : key == QLatin1String("bookSourceUrl") ? QStringLiteral("Edit2")
                                                                     : QStringLiteral("edt_") + key;
        auto* edit = newEdit(content, name);
        if (required) edit->setPlaceholderText(QStringLiteral("必填"));
        input = edit;
        break;
      }
      case fkGroup: {
        auto* combo = new QComboBox(content);
        combo->setObjectName("ComboBox1");
        combo->setEditable(true);
        combo->setMaxVisibleItems(20);
        combo->setInsertPolicy(QComboBox::NoInsert);
        input = combo;
        break;
      }
      case fkType: {
        auto* combo = new QComboBox(content);
        combo->setObjectName("cbxType");
        for (int i = 0; i < 4; ++i)
          combo->addItem(QStringLiteral("%1 %2").arg(i).arg(QString::fromUtf8(kTypeNames[i])), i);
        combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        input = combo;
        break;
      }
      case fkBool:
        if (key == QLatin1String("enabled")) {
          input = CheckBox1;
        } else {
          auto* check = new QCheckBox(QStringLiteral("启用发现"), content);
          check->setObjectName("chkExplore");
          input = check;
        }
        break;
      case fkInt:
        if (key == QLatin1String("weight")) {
          input = Edit27;
        } else {
          auto* edit = newEdit(content, QStringLiteral("edt_") + key);
          signedDigits(edit);
          input = edit;
        }
        break;
      case fkHeader:
      case fkMemo:
        input = newMemo(content, QStringLiteral("edt_") + key, f.Kind == fkHeader ? 5 : 4);
        if (f.Kind == fkHeader)
          static_cast<QPlainTextEdit*>(input)->setPlaceholderText(
              QStringLiteral("{\"User-Agent\": \"Mozilla/5.0\", \"Referer\": \"https://…/\"}  或  @js: 脚本"));
        break;
      case fkExplore:
      case fkRule:
        break;
    }
    // The switch and the weight of the button row move to this page.
    addRow(grid, key, caption, f.Kind, input, required);
  }
  grid->setRowStretch(grid->rowCount(), 1);

  grid = addPage(QStringLiteral("addresses"), QStringLiteral("搜索与发现"));
  content = grid->parentWidget();
  for (const TField3& f : kAddresses3) {
    const QString key = Q(f.Key);
    QPlainTextEdit* memo = newMemo(content, QStringLiteral("edt_") + key, f.Kind == fkExplore ? 16 : 6);
    if (f.Kind == fkExplore) {
      memo->setMinimumHeight(memo->height());
      memo->setMaximumHeight(QWIDGETSIZE_MAX);
    }
    addRow(grid, key, QString::fromUtf8(f.Caption), f.Kind, memo);
  }
  grid->setRowStretch(grid->rowCount() - 1, 1);

  for (const TRuleObject& rule : RuleObjects()) {
    const QString ruleName = Q(rule.Name);
    grid = addPage(ruleName, CaptionOf(std::begin(kRuleCaptions), std::end(kRuleCaptions), rule.Name));
    content = grid->parentWidget();
    auto* note = new QLabel(content);
    note->setObjectName(QStringLiteral("Note_") + ruleName);
    note->setWordWrap(true);
    note->setVisible(false);
    grid->addWidget(note, 0, 0, 1, 2);
    for (const char16_t* member : rule.Members) {
      const QString key = ruleName + '.' + Q(member);
      QPlainTextEdit* memo = newMemo(content, ruleName + '_' + Q(member), 2);
      memo->setProperty(kRuleProperty, ruleName);
      memo->setProperty(kMemberProperty, Q(member));
      addRow(grid, key, CaptionOf(std::begin(kMemberCaptions), std::end(kMemberCaptions), member), fkRule, memo);
    }
    grid->setRowStretch(grid->rowCount(), 1);
  }
}

QString TfrmEditSource::KeyOf(const QWidget* AInput) { return AInput->property(kKeyProperty).toString(); }

QWidget* TfrmEditSource::InputOf(const QString& AKey) const {
  for (QWidget* input : FInputs)
    if (KeyOf(input) == AKey) return input;
  return nullptr;
}

QSize TfrmEditSource::RememberedSize() { return GRememberedSize; }

void TfrmEditSource::SetData(JSONObject* AData, bool AOwned) {
  if (FOwnsData && FData != AData) delete FData;
  FData = AData;
  FOwnsData = AOwned;
  bool format3 = false;
  if (FData) {
    std::lock_guard<std::mutex> lock(FLogic.Sources().Lock());
    format3 = SpeaksFormat3(SourceFormatOf(FData));
  }
  BuildBody(format3);
}

void TfrmEditSource::showEvent(QShowEvent* AEvent) {
  if (!FBody) BuildBody(false);
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
  if (FFormat3) {
    FillFormat3();
    FShownTexts.clear();
    for (QWidget* input : FInputs) FShownTexts.push_back(TextOf(input));
    return;
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
        memo->setPlainText(ForDisplay(text));
    }
  }
  FShownEnabled = CheckBox1->isChecked();
  FShownWeight = Edit27->text();
  FShownSerial = Edit28->text();
  FShownTexts.clear();
  for (QWidget* input : FInputs) FShownTexts.push_back(TextOf(input));
}

void TfrmEditSource::FillFormat3() {
  if (!FData) return;
  std::lock_guard<std::mutex> lock(FLogic.Sources().Lock());
  const TBookSource3 source(FData);
  lblMixed->setVisible(SourceFormatOf(FData) == sfMixed);
  // Shows a member's text; memos remember its line ends.
  auto setText = [](QWidget* AInput, const QString& AText, bool AKeepLineEnds = true) {
    if (auto* edit = qobject_cast<QLineEdit*>(AInput)) {
      edit->setText(AText);
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(AInput)) {
      memo->setProperty(kCrLfProperty, AKeepLineEnds && AText.contains(QLatin1String("\r\n")));
      memo->setPlainText(ForDisplay(AText));
    }
  };
  // Objects and arrays are shown as indented JSON text (whose line ends are the writer's).
  auto setJsonOrText = [&](QWidget* AInput, StringView AKey) {
    if (const JSONBase* container = ContainerOf(FData, AKey))
      setText(AInput, Q(container->ToString(2, false)), false);
    else
      setText(AInput, Q(source.Text(AKey)));
  };
  for (const TRuleObject& rule : RuleObjects()) {
    const bool editable = RuleEditable(FData, rule.Name);
    auto* note = findChild<QLabel*>(QStringLiteral("Note_") + Q(rule.Name));
    note->setText(editable ? QString()
                           : QStringLiteral("这条规则不是JSON对象，表单无法读取，只能在JSON编辑区修改；它保持不变。"));
    note->setVisible(!editable);
  }
  for (QWidget* input : FInputs) {
    const String key = KeyOf(input).toStdU16String();
    switch (TFieldKind(input->property(kKindProperty).toInt())) {
      case fkLine:
      case fkMemo:
        setText(input, Q(source.Text(key)));
        break;
      case fkGroup:
        static_cast<QComboBox*>(input)->setEditText(Q(source.Text(key)));
        break;
      case fkType: {
        auto* combo = static_cast<QComboBox*>(input);
        const qlonglong type = FData->GetInt64(key);
        int index = combo->findData(type);
        if (index < 0) {
          // A type this form does not know: shown, kept unless another is chosen.
          combo->addItem(QString::number(type), type);
          index = combo->count() - 1;
        }
        combo->setCurrentIndex(index);
        break;
      }
      case fkInt:
        static_cast<QLineEdit*>(input)->setText(QString::number(FData->GetInt64(key)));
        break;
      case fkBool: {
        // Absent (or null, which the reader app never writes) means on.
        PJSONValue v = FData->GetItem(key);
        static_cast<QCheckBox*>(input)->setChecked(!v || v->Type() == jdtNull || v->AsBoolean());
        break;
      }
      case fkHeader:
      case fkExplore:
        setJsonOrText(input, key);
        break;
      case fkRule: {
        const String rule = input->property(kRuleProperty).toString().toStdU16String();
        const String member = input->property(kMemberProperty).toString().toStdU16String();
        setText(input, Q(source.RuleMember(rule, member)));
        input->setEnabled(RuleEditable(FData, rule));
        break;
      }
    }
  }
}

QString TfrmEditSource::TextOf(const QWidget* AInput) {
  if (auto* edit = qobject_cast<const QLineEdit*>(AInput)) return edit->text();
  if (auto* combo = qobject_cast<const QComboBox*>(AInput))
    return combo->isEditable() ? combo->currentText() : combo->currentData().toString();
  if (auto* memo = qobject_cast<const QPlainTextEdit*>(AInput)) return MemoText(memo);
  if (auto* check = qobject_cast<const QCheckBox*>(AInput)) return check->isChecked() ? "1" : "0";
  return QString();
}

void TfrmEditSource::ApplayEdit(TBookSourceItem ASource) {
  if (FFormat3) {
    ApplyFormat3(ASource.Object());
    return;
  }
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

void TfrmEditSource::ApplyFormat3(JSONObject* ASource) {
  TBookSource3 source(ASource);
  for (size_t i = 0; i < FInputs.size(); ++i) {
    QWidget* input = FInputs[i];
    QString text = TextOf(input);
    if (qsizetype(i) < FShownTexts.size() && text == FShownTexts[qsizetype(i)]) continue;
    const String key = KeyOf(input).toStdU16String();
    if (input->property(kCrLfProperty).toBool()) text.replace('\n', QStringLiteral("\r\n"));
    int32_t number = 0;
    switch (TFieldKind(input->property(kKindProperty).toInt())) {
      case fkLine:
      case fkMemo:
      case fkGroup:
        ASource->SetString(key, text.toStdU16String());
        break;
      case fkType:
      case fkInt:
        if (ParseDecimal(text, number)) WriteInt(ASource, key, number);
        break;
      case fkBool:
        WriteBool(ASource, key, text == QLatin1String("1"));
        break;
      case fkHeader: {
        // An object stays an object (FormError saw that the text is one);
        // text, or a script that no object can hold, is written as text.
        const JSONBase* stored = ContainerOf(ASource, key);
        if (stored && stored->IsJSONObject() && !IsScriptText(text)) {
          auto header = std::make_unique<JSONObject>();
          if (!text.trimmed().isEmpty()) header->Parse(text.toStdU16String(), false);
          ASource->SetJsonObject(key, header.release());
        } else {
          ASource->SetString(key, text.toStdU16String());
        }
        break;
      }
      case fkExplore: {
        // A list stored as an array stays one while the text is an array.
        const JSONBase* stored = ContainerOf(ASource, key);
        QString error;
        if (stored && stored->IsJSONArray() && IsJsonContainer(text, true, error)) {
          auto list = std::make_unique<JSONArray>();
          list->Parse(text.toStdU16String(), false);
          ASource->SetJsonArray(key, list.release());
        } else {
          ASource->SetString(key, text.toStdU16String());
        }
        break;
      }
      case fkRule: {
        const String rule = input->property(kRuleProperty).toString().toStdU16String();
        const String member = input->property(kMemberProperty).toString().toStdU16String();
        // A rule the form cannot read is never replaced by what it shows.
        if (!RuleEditable(ASource, rule)) break;
        PJSONValue stored = ASource->GetItem(rule);
        // null is an absent rule: an object takes its place.
        if (stored && stored->Type() == jdtNull) ASource->SetJsonObject(rule, new JSONObject());
        source.SetRuleMember(rule, member, text.toStdU16String());
        break;
      }
    }
  }
}

QString TfrmEditSource::FormError() const {
  if (!FFormat3) return QString();
  QWidget* header = InputOf(QStringLiteral("header"));
  const qsizetype index = qsizetype(std::find(FInputs.begin(), FInputs.end(), header) - FInputs.begin());
  const QString text = TextOf(header);
  if ((index < FShownTexts.size() && text == FShownTexts[index]) || text.trimmed().isEmpty() || IsScriptText(text))
    return QString();
  QString where;
  if (IsJsonContainer(text, false, where)) return QString();
  return QStringLiteral("请求头(header)既不是JSON对象（如 {\"User-Agent\": \"Mozilla/5.0\"}），"
                        "也不是以 @js: 或 <js> 开头的脚本") +
         (where.isEmpty() ? QString() : QStringLiteral("（%1）").arg(where)) + QStringLiteral("。");
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
  const QString error = FormError();
  if (!error.isEmpty()) {
    ShowErrorBox(this, error + QStringLiteral("修改没有保存。"));
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
  const QString error = FormError();
  if (!error.isEmpty()) {
    ShowErrorBox(this, error + QStringLiteral("请改正后再测试。"));
    return;
  }
  if (FTestJob) {
    // The second press: the dialog lets go of the test at once.
    EndTest();
    return;
  }
  auto copy = std::make_unique<JSONObject>();
  {
    std::lock_guard<std::mutex> lock(FLogic.Sources().Lock());
    if (FData) copy->Parse(FData->ToString(), false);
  }
  ApplayEdit(TBookSourceItem(copy.get()));
  FTestLines.clear();
  FTestJob = std::make_unique<TSourceTestJob>(std::move(copy));
  if (!FTestTimer) {
    FTestTimer = new QTimer(this);
    FTestTimer->setInterval(30);
    connect(FTestTimer, &QTimer::timeout, this, &TfrmEditSource::PollTest);
  }
  FTestTimer->start();
  Button3->setText(QStringLiteral("停止测试(&T)"));
}

void TfrmEditSource::EndTest() {
  FTestJob.reset();
  if (FTestTimer) FTestTimer->stop();
  Button3->setText(QStringLiteral("测试书源(&T)"));
}

void TfrmEditSource::PollTest() {
  if (!FTestJob) return;
  for (const String& line : FTestJob->TakeLines()) FTestLines << Q(line);
  if (!FTestJob->Done()) return;
  for (const String& line : FTestJob->TakeLines()) FTestLines << Q(line);
  const bool verdict = FTestJob->Verdict();
  const String error = FTestJob->Error();
  EndTest();
  if (!error.empty()) {
    ShowErrorBox(this, Q(error));
    return;
  }
  QString text;
  for (const QString& line : FTestLines) text += line + QStringLiteral("\r\n");
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

QScrollArea* TfrmEditSource::CurrentScrollArea() const {
  if (PageControl1) return qobject_cast<QScrollArea*>(PageControl1->currentWidget());
  return ScrollBox1;
}

bool TfrmEditSource::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AEvent->type() == QEvent::ChildAdded) {
    auto* added = static_cast<QChildEvent*>(AEvent);
    if (added->child()->isWidgetType()) WatchWheel(static_cast<QWidget*>(added->child()));
  }
  if (AEvent->type() != QEvent::Wheel) return QDialog::eventFilter(AWatched, AEvent);
  QScrollArea* area = CurrentScrollArea();
  if (!area) return QDialog::eventFilter(AWatched, AEvent);
  auto* wheel = static_cast<QWheelEvent*>(AEvent);
  // An unhandled turn climbs the parents as copies with the same stamp: scroll once.
  const QPoint delta = wheel->angleDelta();
  const QPoint pos = wheel->globalPosition().toPoint();
  const qint64 stamp = qint64(wheel->timestamp());
  if (!(stamp == FWheelStamp && delta == FWheelDelta && pos == FWheelPos)) {
    FWheelStamp = stamp;
    FWheelDelta = delta;
    FWheelPos = pos;
    QScrollBar* bar = area->verticalScrollBar();
    bar->triggerAction(delta.y() < 0 ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub);
  }
  // The scroll area would scroll again by several lines: the line above is the scroll.
  if (AWatched == area || AWatched == area->viewport() || AWatched == area->verticalScrollBar()) return true;
  return false;
}
