// Waiting out another program's brief hold of a file. On-access scanners and the search indexer
// open a file that was just written, or its neighbour, for a moment and without sharing deletion:
// a rename or an open then fails for a few hundred milliseconds, sometimes for seconds.
#pragma once

#include "os/os.h"

// The budget a running host gets to release its sound bank: 17 tries 256 ms apart, about 4.4 s.
inline constexpr int kBriefLockAttempts = 17;
inline constexpr os::DWORD kBriefLockRetryMs = 256;

// The errors such a hold gives: a sharing violation, access denied, a lock violation.
[[nodiscard]] bool IsBriefLockError(os::DWORD error);

// Calls `attempt` until its result tests true, at most kBriefLockAttempts times kBriefLockRetryMs
// apart, while it fails with one of those errors; any other error ends it at once. Gives the last
// result, with the last error that of the last attempt.
template <class Attempt> auto RetryWhileBrieflyLocked(Attempt attempt) -> decltype(attempt()) {
    auto result = attempt();
    for (int tried = 1;
         !result && tried < kBriefLockAttempts && IsBriefLockError(os::GetLastError()); ++tried) {
        os::Sleep(kBriefLockRetryMs);
        result = attempt();
    }
    return result;
}
