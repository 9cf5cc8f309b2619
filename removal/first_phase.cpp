#include "ui/update_dlg.h"

// Placeholder until the first phase's work lands: behaves as a system
// without version 1.0, so the driver installs the new version at once.
void CUpdateDlg::OnOK() { EndDialog(IDS_OLD_VERSION_ABSENT); }
