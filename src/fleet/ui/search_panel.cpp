#include "fleet/ui/search_panel.h"

#include "fleet/fleet_texts.h"
#include "lang/display_text.h"
#include "ui/gbk_text.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vireo::ui {

namespace {

constexpr int kTypingPauseMs = 250;
constexpr int kHitRole = Qt::UserRole + 1;

QString shown(const std::string& gbk)
{
    return FromGbk(DisplayText(gbk));
}

} // namespace

SearchPanel::SearchPanel(DeviceList devices, QWidget* parent)
    : QWidget(parent), m_devices(std::move(devices))
{
    setObjectName("SearchPanel");
    m_label = new QLabel(this);
    m_text = new QLineEdit(this);
    m_text->setObjectName("SearchText");
    m_text->setClearButtonEnabled(true);
    m_mode = new QComboBox(this);
    m_mode->setObjectName("SearchMode");
    for (int i = 0; i < 4; ++i) {
        m_mode->addItem(QString());
    }
    m_count = new QLabel(this);
    m_results = new QTreeWidget(this);
    m_results->setObjectName("SearchResults");
    m_results->setRootIsDecorated(false);
    m_results->setColumnCount(3);
    m_results->setUniformRowHeights(true);
    m_results->setAlternatingRowColors(true);
    m_results->header()->setStretchLastSection(true);
    m_results->setColumnWidth(0, 18 * m_results->fontMetrics().averageCharWidth());
    m_results->setColumnWidth(1, 10 * m_results->fontMetrics().averageCharWidth());

    m_typing = new QTimer(this);
    m_typing->setSingleShot(true);
    m_typing->setInterval(kTypingPauseMs);
    connect(m_typing, &QTimer::timeout, this, &SearchPanel::RunSearch);
    connect(m_text, &QLineEdit::textEdited, m_typing, qOverload<>(&QTimer::start));
    // Return searches at once and takes the caret to the first hit, where a
    // second Return shows it.
    connect(m_text, &QLineEdit::returnPressed, this, [this] {
        RunSearch();
        if (m_results->topLevelItemCount() > 0) {
            m_results->setCurrentItem(m_results->topLevelItem(0));
            m_results->setFocus(Qt::OtherFocusReason);
        }
    });
    connect(m_mode, &QComboBox::currentIndexChanged, this, &SearchPanel::RunSearch);
    connect(m_results, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { ActivateHit(item->data(0, kHitRole).toULongLong()); });

    auto* row = new QHBoxLayout;
    row->addWidget(m_label);
    row->addWidget(m_text, 1);
    auto* second = new QHBoxLayout;
    second->addWidget(m_mode);
    second->addStretch(1);
    second->addWidget(m_count);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(row);
    layout->addLayout(second);
    layout->addWidget(m_results);
    ApplyCaptions();
}

void SearchPanel::ApplyCaptions()
{
    setWindowTitle(LangText(fleet_text::SearchMenu).remove(QStringLiteral("...")));
    m_label->setText(LangText(fleet_text::Search));
    for (int i = 0; i < 4; ++i) {
        m_mode->setItemText(i, LangText(fleet_text::ModeAny + i));
    }
    m_results->setHeaderLabels(
        {LangText(fleet_text::Device), LangText(fleet_text::Kind), LangText(fleet_text::Path)});
    m_count->setText(LangText(fleet_text::Results) + QString::number(m_hits.size()));
}

void SearchPanel::FocusText()
{
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
}

void SearchPanel::RunSearch()
{
    m_typing->stop();
    m_results->clear();
    m_hits.clear();
    const auto query =
        ParseSearch(ToGbk(m_text->text()), static_cast<SearchMode>(m_mode->currentIndex()));
    if (query) {
        m_hits = SearchDevices(m_devices(), *query);
    }
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(m_hits.size()));
    for (size_t i = 0; i < m_hits.size(); ++i) {
        const SearchHit& hit = m_hits[i];
        QString path = shown(hit.satellite);
        if (hit.kind != SearchHit::Kind::Satellite) {
            path += QStringLiteral(" > ") + shown(hit.transponder);
        }
        if (hit.kind == SearchHit::Kind::TvProgram || hit.kind == SearchHit::Kind::RadioProgram) {
            path += QStringLiteral(" > ") + shown(hit.program);
        }
        auto* item = new QTreeWidgetItem(
            {shown(hit.caption), LangText(fleet_text::Satellite + static_cast<int>(hit.kind)),
             path});
        item->setData(0, kHitRole, QVariant::fromValue<qulonglong>(i));
        item->setToolTip(2, path);
        items.push_back(item);
    }
    m_results->addTopLevelItems(items);
    m_count->setText(LangText(fleet_text::Results) + QString::number(m_hits.size()));
}

void SearchPanel::ActivateHit(size_t i)
{
    if (i < m_hits.size()) {
        emit hitActivated(m_hits[i]);
    }
}

} // namespace vireo::ui
