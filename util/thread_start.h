// Helper threads that the system may refuse: std::thread throws when no
// thread can be had (a 32-bit process whose address space is spent on
// stacks, a limit on a user's threads), and an exception that leaves
// threads already started unjoined ends the process. Callers share their
// work among the helpers they got and do it themselves when they got none.
#ifndef FILEDIST_UTIL_THREAD_START_H
#define FILEDIST_UTIL_THREAD_START_H

#include <functional>
#include <thread>
#include <vector>

namespace util {

// Starts a thread that runs body and adds it to *threads. False, with
// *threads as it was, when the system refuses one.
bool StartThread(std::vector<std::thread>* threads, const std::function<void()>& body);

// For tests alone: after starts more threads were started by StartThread,
// each further start is refused as a system without threads to spare
// refuses it. A negative count (as at first) lifts the limit; setting it
// restarts the count.
void LimitThreadStartsForTest(int starts);

}  // namespace util

#endif  // FILEDIST_UTIL_THREAD_START_H
