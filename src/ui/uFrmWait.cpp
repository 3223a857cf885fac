#include "ui/uFrmWait.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>

#include "app/uMainLogic.h"

TForm2::TForm2(QWidget* AOwner, TMainLogic& ALogic)
    : QDialog(AOwner, Qt::Dialog | Qt::FramelessWindowHint), FLogic(ALogic) {
  setObjectName("Form2");
  setModal(true);
  setFixedSize(251, 173);
  // The silver frame is the dialog's own colour showing around the white panel.
  setAutoFillBackground(true);
  QPalette frame = palette();
  frame.setColor(QPalette::Window, QColor(192, 192, 192));
  setPalette(frame);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(1, 1, 1, 1);
  auto* panel = new QWidget(this);
  panel->setObjectName("Panel1");
  panel->setAutoFillBackground(true);
  QPalette white = panel->palette();
  white.setColor(QPalette::Window, Qt::white);
  panel->setPalette(white);
  outer->addWidget(panel);

  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(16, 20, 16, 16);
  ActivityIndicator1 = new QProgressBar(panel);
  ActivityIndicator1->setObjectName("ActivityIndicator1");
  ActivityIndicator1->setRange(0, 0);  // an endless, moving bar
  ActivityIndicator1->setTextVisible(false);
  ActivityIndicator1->setFixedSize(120, 12);
  Label1 = new QLabel(QStringLiteral("正在处理, 请等待..."), panel);
  Label1->setObjectName("Label1");
  Label1->setAlignment(Qt::AlignCenter);
  Button1 = new QPushButton(QStringLiteral("取消(&C)"), panel);
  Button1->setObjectName("Button1");
  Button1->setAutoDefault(false);
  layout->addWidget(ActivityIndicator1, 0, Qt::AlignHCenter);
  layout->addSpacing(12);
  layout->addWidget(Label1);
  layout->addStretch(1);
  layout->addWidget(Button1, 0, Qt::AlignHCenter);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
  const String importing = FLogic.ImportWaitText();
  if (!importing.empty())
    ShowText(QString::fromUtf16(reinterpret_cast<const char16_t*>(importing.data()), qsizetype(importing.size())));
}

bool TForm2::Busy() const { return FLogic.RunState() != rsIdle || FLogic.ImportRunning(); }

void TForm2::ShowText(const QString& AText) {
  const QFontMetrics metrics(Label1->font());
  const int width = 251 - 2 - 32;
  QStringList lines = AText.split(QLatin1Char('\n'));
  for (QString& line : lines) line = metrics.elidedText(line, Qt::ElideMiddle, width);
  Label1->setText(lines.join(QLatin1Char('\n')));
  Label1->setToolTip(lines.join(QLatin1Char('\n')) == AText ? QString() : AText);
}

TForm2::~TForm2() {
  if (Form2 == this) Form2 = nullptr;
}

void TForm2::ShowWait(QWidget* AOwner, TMainLogic& ALogic) {
  if (Form2) return;
  TForm2 dialog(AOwner, ALogic);
  Form2 = &dialog;
  // A run that ended before the dialog came up must not leave it open.
  if (!dialog.Busy()) dialog.Timer1->start();
  dialog.exec();
}

void TForm2::RequestClose() {
  if (Form2) Form2->Timer1->start();
}

void TForm2::Timer1Timer() {
  if (!Busy()) done(QDialog::Rejected);
}

void TForm2::Button1Click() {
  if (FLogic.ImportRunning()) {
    // Nothing to wait for: the import lets go at once and merges nothing.
    Timer1->start();
    FLogic.RunCommand([this] { FLogic.CancelImport(); });
    return;
  }
  if (FLogic.RunState() == rsIdle) return;
  Timer1->start();
  FLogic.RunCommand([this] { FLogic.Button1Click(); });
}

// Escape cancels the run; the dialog itself closes only once the run is idle.
void TForm2::reject() { Button1Click(); }

void TForm2::closeEvent(QCloseEvent* AEvent) {
  if (Busy()) {
    AEvent->ignore();
    Button1Click();
    return;
  }
  QDialog::closeEvent(AEvent);
}
