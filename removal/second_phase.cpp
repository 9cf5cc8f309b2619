#include "app/update_app.h"

// Placeholder until the second phase's worker lands.
UPD_RESULT CUpdateApp::RunSecondPhase(int, int) { return UPD_OK; }
