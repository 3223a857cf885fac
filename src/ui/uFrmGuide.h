// The user guide in a window of its own, read from the program's resources.
#pragma once

#include <QDialog>

class QTextBrowser;

class TfrmGuide : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmGuide(QWidget* AParent);

  // Where the guide is kept in the program.
  static const char* const Resource;

  QTextBrowser* Browser = nullptr;
};
