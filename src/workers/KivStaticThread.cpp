#include "workers/KivStaticThread.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "workers/KivWorker.h"

namespace {
bool ReadProcStat(uint64_t& AIdle, uint64_t& AKernel, uint64_t& AUser) {
  std::ifstream F("/proc/stat");
  std::string Cpu;
  uint64_t User = 0, Nice = 0, System = 0, Idle = 0, IoWait = 0, Irq = 0, SoftIrq = 0, Steal = 0;
  if (!(F >> Cpu >> User >> Nice >> System >> Idle >> IoWait >> Irq >> SoftIrq) || Cpu != "cpu") return false;
  F >> Steal;
  // Kernel time includes idle time, as the load formula expects.
  AIdle = Idle + IoWait;
  AKernel = System + Irq + SoftIrq + AIdle;
  AUser = User + Nice + Steal;
  return true;
}
}  // namespace

TStaticThread::TStaticThread(TKIVWorkers* AOwner) : FOwner(AOwner) {
  FHasTimes = ReadProcStat(FLastIdle, FLastKernel, FLastUser);
  FThread = std::thread(&TStaticThread::Execute, this);
}

TStaticThread::~TStaticThread() {
  Terminate();
  if (FThread.joinable()) FThread.join();
}

void TStaticThread::Terminate() {
  FTerminated = true;
  FEvent.SetEvent();
}

bool TStaticThread::WaitEnd(uint32_t ATimeout) {
  int64_t Deadline = GetTimestamp() + ATimeout;
  while (!FEnded.IsSet()) {
    int64_t Left = Deadline - GetTimestamp();
    if (Left <= 0) return false;
    MsgWaitForEvent(FEnded, static_cast<uint32_t>(std::min<int64_t>(Left, 200)));
  }
  return true;
}

int TStaticThread::GetCPUUsage() {
  uint64_t Idle, Kernel, User;
  if (!ReadProcStat(Idle, Kernel, User)) return 0;
  uint64_t Total = (Kernel - FLastKernel) + (User - FLastUser);
  uint64_t DIdle = Idle - FLastIdle;
  FLastIdle = Idle;
  FLastKernel = Kernel;
  FLastUser = User;
  return Total > DIdle ? static_cast<int>((Total - DIdle) * 100 / Total) : 0;
}

void TStaticThread::Execute() {
  pthread_setname_np(pthread_self(), "StaticThread");
  sched_param P{};
  pthread_setschedparam(pthread_self(), SCHED_IDLE, &P);  // best effort
  while (!FTerminated.load()) {
    TWaitResult R = FEvent.WaitFor(FHasTimes ? 1000 : KivInfinite);
    if (FTerminated.load()) break;
    TKIVWorkers* O = FOwner;
    if (O->Terminating()) continue;
    if (R == wrSignaled) {
      if (O->IdleWorkerCount() <= 0) O->LookupIdleWorker();
    } else if (O->SimpleJobCount() > 0 && GetCPUUsage() < 60 && O->IdleWorkerCount() <= 0) {
      O->LookupIdleWorker();
    } else {
      // Safety net: a timed job overdue with idle workers asleep gets one.
      int64_t First = O->FRepeatJobs->FirstFireTime();
      if (First != 0 && First + 50 <= GetTimestamp()) O->LookupIdleWorker();
    }
  }
  FEnded.SetEvent();
}
