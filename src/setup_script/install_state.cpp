#include "install_state.h"

// Zero-filled at start: no group, no handle, empty texts.
InstallState installState;
