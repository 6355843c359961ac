// The updater's check of its own executable, sound bank included.
#pragma once

// True when the own file is intact; otherwise shows "verificationfail" or "badinstaller".
bool VerifyInstaller();
