// The whole removal, from loading SETUP.DAT to the closing message.
#pragma once

// programPath is the installed uninstall.exe; fromCopy says this process is the temporary copy,
// started after the user's answer. Returns 1 when the removal ran.
int RunUninstall(const char* programPath, int fromCopy);
