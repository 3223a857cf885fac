// Files named on the desktop program's command line, as the menu entry's
// "Open with" passes them.
#pragma once

#include <QStringList>

class TForm1;

// The files among the program's arguments (the first names the program; Qt has
// taken its own options out by then). A first "--" only ends the options; file
// URLs become paths; relative paths are made absolute, as a drop gives them.
QStringList StartupFiles(const QStringList& AArguments);

// Loads those files into the shown window once its event loop runs: in order,
// as dropped files, stopping at the first that fails with its error box.
void OpenStartupFiles(TForm1& AWindow, const QStringList& AArguments);
