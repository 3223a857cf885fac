// Standard input as one of the batch program's inputs.
#pragma once

#include "support/KivTypes.h"

// Reads all of standard input; throws Exception when it cannot be read.
Bytes ReadStandardInput();
