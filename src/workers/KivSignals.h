// Named signals: the jobs waiting for one, fired together by SendSignal.
#pragma once

#include <cstdint>

#include "support/KivTypes.h"
#include "workers/KivJobs.h"

struct TSignal {
  int32_t Id;
  int32_t Fired;
  String Name;
  PJob First;
};
using PSignal = TSignal*;
