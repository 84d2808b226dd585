#pragma once

#include "link/device_view.h"

#include <QProgressBar>
#include <QString>

namespace vireo::ui {

// What the operator sees of a firmware upgrade in progress, from the
// language table's texts: "In transporting: 12/2049 (0%)" while blocks go
// out, "Upgrading: 45%" while the device writes; empty when idle.
QString UpgradeProgressText(const DeviceView::UpgradeProgress& progress);
// The note after the machine's node text: " [In transporting: 45%]",
// " [Upgrading: 45%]"; empty when idle.
QString UpgradeNodeMark(const DeviceView::UpgradeProgress& progress);

// ProgressBar_upgrade: the device window's bar, shown only while an upgrade
// sends or the device writes.
class UpgradeProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    explicit UpgradeProgressBar(QWidget* parent = nullptr);

    void ShowProgress(const DeviceView::UpgradeProgress& progress);
};

} // namespace vireo::ui
