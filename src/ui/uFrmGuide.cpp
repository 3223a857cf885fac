#include "ui/uFrmGuide.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

const char* const TfrmGuide::Resource = "qrc:/docs/USER_GUIDE.md";

// The resources sit in a static library: nothing else would pull them in.
static void LoadGuideResources() { Q_INIT_RESOURCE(tanvork_docs); }

TfrmGuide::TfrmGuide(QWidget* AParent)
    : QDialog(AParent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint) {
  LoadGuideResources();
  setObjectName("frmGuide");
  setWindowTitle(QStringLiteral("用户指南"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  Browser = new QTextBrowser(this);
  Browser->setObjectName("Browser");
  // Web addresses go to the browser; the guide's own pictures come from the resources.
  Browser->setOpenExternalLinks(true);
  Browser->setSource(QUrl(QString::fromLatin1(Resource)), QTextDocument::MarkdownResource);
  layout->addWidget(Browser);
  resize(820, 640);
}
