#include "device/ui/upgrade_progress.h"

#include "ui/gbk_text.h"

namespace vireo::ui {

namespace {

constexpr int kRowTransporting = 162; // "In transporting: "
constexpr int kRowWriting = 164;      // "Upgrading: "

using Stage = DeviceView::UpgradeProgress::Stage;

} // namespace

QString UpgradeProgressText(const DeviceView::UpgradeProgress& progress)
{
    switch (progress.stage) {
    case Stage::Sending:
        return LangText(kRowTransporting) + QStringLiteral("%1/%2 (%3%)")
                                                .arg(progress.blocksSent)
                                                .arg(progress.blocksTotal)
                                                .arg(progress.percent);
    case Stage::Writing:
        return LangText(kRowWriting) + QStringLiteral("%1%").arg(progress.percent);
    case Stage::Idle:
        break;
    }
    return {};
}

QString UpgradeNodeMark(const DeviceView::UpgradeProgress& progress)
{
    if (progress.stage == Stage::Idle) {
        return {};
    }
    const int row = progress.stage == Stage::Sending ? kRowTransporting : kRowWriting;
    return QStringLiteral(" [%1%2%]").arg(LangText(row)).arg(progress.percent);
}

UpgradeProgressBar::UpgradeProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setObjectName(QStringLiteral("ProgressBar_upgrade"));
    setRange(0, 100);
    setTextVisible(true);
    hide();
}

void UpgradeProgressBar::ShowProgress(const DeviceView::UpgradeProgress& progress)
{
    if (progress.stage == Stage::Idle) {
        hide();
        reset();
        return;
    }
    setValue(progress.percent);
    // The bar's placeholders are %p, %v and %m; a '%' before anything else
    // shows as it stands.
    setFormat(UpgradeProgressText(progress));
    show();
}

} // namespace vireo::ui
