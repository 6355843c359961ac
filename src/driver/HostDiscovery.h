// Finding the host's installation: folder, uninstall entry, administrator rights.
#pragma once

// Fills Ctx.HostFolder, Ctx.UninstallKey, Ctx.HostEntryKey and Ctx.IsAdmin. False when the registry
// cannot be read (the user has been told).
[[nodiscard]] bool DiscoverHost();
