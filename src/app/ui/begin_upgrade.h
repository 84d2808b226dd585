#pragma once

#include <chrono>

namespace vireo::ui {

class MdiChild;
class SelForm;

// How long the device is given to report its version when it is asked for it.
inline constexpr std::chrono::milliseconds kVersionWait{30000};

// The operator's Upgrade command for a device window, up to the request that
// tells the device an upgrade is coming: the version check (asking the device
// for its version when it has not reported it), the confirmation, the upgrade
// type from `selForm` and the file. The choice is stored in the window's
// UpgradeTransfer; the device's acceptance of StartUpgrade starts the
// transfer. Every dialog goes through the MessageBox and ModalSeam seams (the
// file dialog is a QFileDialog named "OpenDialog_upfile").
//
// Runs on the UI thread and keeps the UI running while it waits for the
// version, at most `versionWait`: a device that does not report it by then is
// logged and the operator told, and the upgrade is given up. A window without
// a device database, closing, or upgrading already is left alone, and one
// upgrade is prepared at a time.
void BeginUpgrade(MdiChild& window, SelForm& selForm,
                  std::chrono::milliseconds versionWait = kVersionWait);

} // namespace vireo::ui
