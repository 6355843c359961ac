// The entry and the update sequence.
#pragma once

void RunUpdate();
[[nodiscard]] bool HostNotRunning();
void StartHost();
// The whole process: start-up of the modules, the constants, RunUpdate, shutdown. Returns the
// exit code (1 after the "Application Error" box for an error nothing caught).
int RunProgram();
