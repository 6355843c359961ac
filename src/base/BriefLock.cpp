#include "base/BriefLock.h"

// A file held without sharing deletion refuses a replace with access denied, not a sharing
// violation; a byte-range lock gives a lock violation.
bool IsBriefLockError(os::DWORD error) {
    return error == os::ERROR_SHARING_VIOLATION || error == os::ERROR_ACCESS_DENIED ||
           error == os::ERROR_LOCK_VIOLATION;
}
