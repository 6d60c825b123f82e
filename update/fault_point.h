// Numbered points before each change the update engine makes to the disk.
// The crash tests stop the process at the Nth one and check that the next
// run converges; a normal run sets no hook and the points cost a counter.
#ifndef FILEDIST_UPDATE_FAULT_POINT_H
#define FILEDIST_UPDATE_FAULT_POINT_H

namespace update {

using FaultHook = void (*)(int point);

// Installs hook (nullptr removes it) and restarts the count at 1.
void SetFaultHook(FaultHook hook);

// Counts one change about to be made and tells the hook its number.
void FaultPoint();

// Number of points passed since the hook was set.
int FaultPointsPassed();

}  // namespace update

#endif  // FILEDIST_UPDATE_FAULT_POINT_H
