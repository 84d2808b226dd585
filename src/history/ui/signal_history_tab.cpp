#include "history/ui/signal_history_tab.h"

#include "history/ui/history_format.h"
#include "history/ui/history_texts.h"
#include "history/ui/signal_chart.h"
#include "ui/message_box.h"

#include <QChart>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

namespace vireo::ui {

namespace {

constexpr int kLiveTickMs = 1000;
// Without news from the device the range still moves on with the clock.
constexpr int64_t kIdleRequeryMs = 5000;
constexpr int kOutageColumns = 4;

int64_t systemNowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QTableWidgetItem* cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

SignalHistoryTab::SignalHistoryTab(QWidget* parent)
    : QWidget(parent), m_relay(std::make_shared<Relay>()), m_clock(systemNowMs)
{
    setObjectName(QStringLiteral("TabSheet_history"));
    m_relay->tab = this;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* bar = new QHBoxLayout();
    m_rangeLabel = new QLabel(this);
    m_range = new QComboBox(this);
    m_range->setObjectName(QStringLiteral("Combo_range"));
    for (size_t i = 0; i < kRangesMs.size(); ++i) {
        m_range->addItem(QString());
    }
    m_availability = new QLabel(this);
    m_availability->setObjectName(QStringLiteral("Label_availability"));
    m_export = new QPushButton(this);
    m_export->setObjectName(QStringLiteral("Btn_export"));
    bar->addWidget(m_rangeLabel);
    bar->addWidget(m_range);
    bar->addSpacing(16);
    bar->addWidget(m_availability, 1);
    bar->addWidget(m_export);
    layout->addLayout(bar);

    m_split = new QSplitter(Qt::Vertical, this);
    QSplitter* split = m_split;
    split->setObjectName(QStringLiteral("Splitter_history"));
    split->setChildrenCollapsible(false);
    m_chart = new SignalChart(split);
    m_chart->setMinimumHeight(180);
    m_outages = new QTableWidget(0, kOutageColumns, split);
    m_outages->setObjectName(QStringLiteral("Table_outages"));
    m_outages->verticalHeader()->hide();
    m_outages->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_outages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_outages->horizontalHeader()->setStretchLastSection(true);
    m_outages->setMinimumHeight(70);
    split->addWidget(m_chart);
    split->addWidget(m_outages);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);

    m_liveTimer = new QTimer(this);
    m_liveTimer->setInterval(kLiveTickMs);
    connect(m_liveTimer, &QTimer::timeout, this, &SignalHistoryTab::liveTick);
    connect(m_range, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
    connect(m_export, &QPushButton::clicked, this, &SignalHistoryTab::exportCsv);
    ApplyCaptions();
}

SignalHistoryTab::~SignalHistoryTab()
{
    // A worker still running finds no tab to answer to.
    std::lock_guard lock(m_relay->mutex);
    m_relay->tab = nullptr;
}

void SignalHistoryTab::SetSource(std::shared_ptr<SignalHistorySource> source)
{
    m_source = std::move(source);
    m_export->setEnabled(m_source != nullptr);
    if (isVisible()) {
        Refresh();
    }
}

void SignalHistoryTab::SetClock(std::function<int64_t()> clock)
{
    m_clock = clock ? std::move(clock) : systemNowMs;
}

void SignalHistoryTab::ApplyCaptions()
{
    m_rangeLabel->setText(HistoryLang(HistoryText::Range));
    const HistoryText ranges[] = {HistoryText::Range10Min, HistoryText::Range1Hour,
                                  HistoryText::Range24Hours, HistoryText::Range7Days,
                                  HistoryText::Range30Days};
    for (int i = 0; i < m_range->count(); ++i) {
        m_range->setItemText(i, HistoryLang(ranges[i]));
    }
    m_export->setText(HistoryLang(HistoryText::ExportCsv));
    m_outages->setHorizontalHeaderLabels(
        {HistoryLang(HistoryText::Start), HistoryLang(HistoryText::End),
         HistoryLang(HistoryText::Duration), HistoryLang(HistoryText::State)});
    m_chart->ApplyCaptions();
    showSnapshot(m_shown);
}

void SignalHistoryTab::SetRangeIndex(int index)
{
    m_range->setCurrentIndex(index);
}

int SignalHistoryTab::RangeIndex() const
{
    return std::max(0, m_range->currentIndex());
}

void SignalHistoryTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!std::exchange(m_splitPlaced, true)) {
        // The chart gets the room; the outages list a few rows.
        const int height = m_split->height();
        m_split->setSizes({height * 3 / 4, height - height * 3 / 4});
    }
    m_liveTimer->start();
    Refresh();
}

void SignalHistoryTab::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_liveTimer->stop();
}

void SignalHistoryTab::liveTick()
{
    const int64_t now = m_clock();
    if (m_newData || now - m_lastQueryMs >= kIdleRequeryMs) {
        Refresh();
    }
}

void SignalHistoryTab::Refresh()
{
    if (m_source == nullptr) {
        return;
    }
    if (m_querying) {
        m_queryAgain = true;
        return;
    }
    m_querying = true;
    m_newData = false;
    const int64_t to = m_clock();
    const int64_t from = to - kRangesMs[static_cast<size_t>(RangeIndex())];
    m_lastQueryMs = to;
    QThreadPool::globalInstance()->start([relay = m_relay, source = m_source, from, to] {
        HistorySnapshot snapshot;
        try {
            snapshot = source->Query(from, to, kMaxPoints);
        } catch (const std::exception&) {
            snapshot = {}; // shown as a range without data
        }
        snapshot.fromMs = from;
        snapshot.toMs = to;
        std::lock_guard lock(relay->mutex);
        if (SignalHistoryTab* tab = relay->tab) {
            QMetaObject::invokeMethod(
                tab,
                [tab, snapshot = std::move(snapshot)]() mutable {
                    tab->m_querying = false;
                    tab->showSnapshot(std::move(snapshot));
                    if (std::exchange(tab->m_queryAgain, false)) {
                        tab->Refresh();
                    }
                },
                Qt::QueuedConnection);
        }
    });
}

void SignalHistoryTab::showSnapshot(HistorySnapshot snapshot)
{
    m_shown = std::move(snapshot);
    if (m_shown.toMs == 0) {
        m_shown.toMs = m_clock();
        m_shown.fromMs = m_shown.toMs - kRangesMs[static_cast<size_t>(RangeIndex())];
    }
    const int64_t now = m_clock();
    m_chart->ShowSnapshot(m_shown, now);
    m_chart->chart()->setTitle(m_shown.samples.empty() ? HistoryLang(HistoryText::NoData)
                                                       : QString());
    QString availability = HistoryLang(HistoryText::Availability);
    availability += m_shown.availability < 0
                        ? QStringLiteral("-")
                        : QStringLiteral("%1 %").arg(m_shown.availability * 100.0, 0, 'f', 2);
    availability += QStringLiteral("    ") + HistoryLang(HistoryText::OutageCount) +
                    QString::number(m_shown.outages.size());
    m_availability->setText(availability);
    fillOutages();
    emit snapshotShown();
}

void SignalHistoryTab::fillOutages()
{
    const int64_t now = m_clock();
    const auto& outages = m_shown.outages;
    m_outages->setRowCount(static_cast<int>(outages.size()));
    // Newest first: the operator's question is usually about the last one.
    int row = 0;
    for (auto it = outages.rbegin(); it != outages.rend(); ++it, ++row) {
        const bool ongoing = it->open;
        const int64_t end = ongoing ? std::max(now, it->endMs) : it->endMs;
        m_outages->setItem(row, 0, cell(FormatHistoryTime(it->startMs)));
        m_outages->setItem(
            row, 1, cell(ongoing ? HistoryLang(HistoryText::Ongoing) : FormatHistoryTime(end)));
        m_outages->setItem(row, 2, cell(FormatDuration(end - it->startMs)));
        m_outages->setItem(row, 3,
                           cell(HistoryLang(it->kind == OutagePeriod::Kind::Unlocked
                                                ? HistoryText::Unlocked
                                                : HistoryText::Disconnected)));
    }
    m_outages->resizeColumnsToContents();
}

void SignalHistoryTab::exportCsv()
{
    if (m_source == nullptr) {
        return;
    }
    QPointer<QFileDialog> dialog =
        new QFileDialog(this, HistoryLang(HistoryText::ExportCsv), QDir::currentPath(),
                        QStringLiteral("CSV (*.csv)"));
    dialog->setObjectName(QStringLiteral("SaveDialog_csv"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    const int result = ModalSeam::Exec(dialog);
    QString path;
    if (dialog && result == QDialog::Accepted) {
        path = dialog->selectedFiles().value(0);
    }
    delete dialog.data();
    if (path.isEmpty()) {
        return;
    }
    const int64_t to = m_clock();
    const int64_t from = to - kRangesMs[static_cast<size_t>(RangeIndex())];
    m_export->setEnabled(false);
    const std::string file = path.toLocal8Bit().toStdString();
    QThreadPool::globalInstance()->start(
        [relay = m_relay, source = m_source, file, path, from, to] {
            std::string error;
            bool ok = false;
            try {
                ok = source->ExportCsv(file, from, to, &error);
            } catch (const std::exception& e) {
                error = e.what();
            }
            std::lock_guard lock(relay->mutex);
            if (SignalHistoryTab* tab = relay->tab) {
                QMetaObject::invokeMethod(
                    tab,
                    [tab, ok, path, error] {
                        tab->m_export->setEnabled(tab->m_source != nullptr);
                        if (!ok) {
                            MessageBox::Information(tab, HistoryLang(HistoryText::ExportFailed) +
                                                             QDir::toNativeSeparators(path) +
                                                             QStringLiteral("\n") +
                                                             QString::fromLocal8Bit(error));
                        }
                        emit tab->exportFinished(ok);
                    },
                    Qt::QueuedConnection);
            }
        });
}

} // namespace vireo::ui
