// Hooks between the portable part of the platform layer and the build's own
// implementation. Not for use outside src/platform.
#pragma once

namespace platform {

// Makes the default environment re-read the settings it takes from the
// process environment (the code page on POSIX). Called by SetForTesting.
void ReloadDefaultEnvSettings();

}  // namespace platform
