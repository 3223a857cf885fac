// Everything the main window's logic may ask of a front end, by concern.
// The desktop window implements all of it; the batch program and the tests
// override only what they show or look at.
#pragma once

#include "app/uRunView.h"
#include "app/uSourceListView.h"
#include "app/uUserPrompts.h"

class IMainWindow : public ISourceListView, public IUserPrompts, public IRunView {};
