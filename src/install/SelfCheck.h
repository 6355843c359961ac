// The updater's check of its own executable, sound bank included.
#pragma once

// True when the own file is intact: the digest that the build stamped into it matches the file.
// Otherwise shows "verificationfail" (the file cannot be opened or read) or "badinstaller" (it
// was read and is damaged, altered or was never stamped) and returns false.
[[nodiscard]] bool VerifyInstaller();
