#include "history/ui/alarm_rules_dialog.h"

#include "history/ui/history_texts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vireo::ui {

namespace {

constexpr int kMaxHoldSeconds = 24 * 3600;

QSpinBox* spinBox(int minimum, int maximum, int value, QWidget* parent)
{
    auto* box = new QSpinBox(parent);
    box->setRange(minimum, maximum);
    box->setValue(value);
    return box;
}

} // namespace

AlarmRulesDialog::AlarmRulesDialog(AlarmRuleStore store,
                                   const std::vector<std::pair<std::string, QString>>& devices,
                                   QWidget* parent)
    : QDialog(parent), m_store(std::move(store))
{
    setObjectName(QStringLiteral("AlarmRulesForm"));
    auto* layout = new QVBoxLayout(this);
    m_scope = new QComboBox(this);
    m_scope->setObjectName(QStringLiteral("Combo_scope"));
    m_scope->addItem(QString(), QByteArray());
    for (const auto& [address, label] : devices) {
        m_scope->addItem(label, QByteArray::fromStdString(address));
    }
    m_override = new QCheckBox(this);
    m_override->setObjectName(QStringLiteral("Check_override"));
    m_table = new QTableWidget(0, 4, this);
    m_table->setObjectName(QStringLiteral("Table_rules"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("Btn_ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Btn_cancel"));
    layout->addWidget(m_scope);
    layout->addWidget(m_override);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        SaveEdits();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_scope, &QComboBox::currentIndexChanged, this, [this] {
        keepEdits();
        showScope(currentDevice());
    });
    connect(m_override, &QCheckBox::toggled, this, [this](bool on) {
        m_table->setEnabled(on || currentDevice().empty());
        if (!m_filling) {
            keepEdits();
        }
    });
    ApplyCaptions();
    showScope({});
    resize(520, 300);
}

void AlarmRulesDialog::ApplyCaptions()
{
    setWindowTitle(HistoryLang(HistoryText::AlarmRules));
    m_scope->setItemText(0, HistoryLang(HistoryText::GlobalDefaults));
    m_override->setText(HistoryLang(HistoryText::Override));
    m_table->setHorizontalHeaderLabels(
        {HistoryLang(HistoryText::Enabled), HistoryLang(HistoryText::Threshold),
         HistoryLang(HistoryText::HoldSeconds), HistoryLang(HistoryText::ClearAfter)});
}

std::string AlarmRulesDialog::currentDevice() const
{
    return m_scope->currentData().toByteArray().toStdString();
}

void AlarmRulesDialog::SelectScope(const std::string& device)
{
    const int index = m_scope->findData(QByteArray::fromStdString(device));
    if (index >= 0) {
        m_scope->setCurrentIndex(index);
    }
}

void AlarmRulesDialog::showScope(const std::string& device)
{
    m_filling = true;
    m_shown = device;
    auto it = m_edits.find(device);
    const AlarmRuleScope scope = it != m_edits.end() ? it->second : m_store.load(device);
    m_override->setVisible(!device.empty());
    m_override->setChecked(scope.overrides);
    m_table->setEnabled(device.empty() || scope.overrides);
    m_table->setRowCount(static_cast<int>(scope.rules.size()));
    QStringList names;
    for (int row = 0; row < static_cast<int>(scope.rules.size()); ++row) {
        const AlarmRuleEdit& rule = scope.rules[static_cast<size_t>(row)];
        names << rule.name;
        auto* enabled = new QCheckBox(m_table);
        enabled->setChecked(rule.enabled);
        m_table->setCellWidget(row, EnabledColumn, enabled);
        connect(enabled, &QCheckBox::toggled, this, [this] { keepEdits(); });
        if (rule.hasThreshold) {
            auto* threshold = spinBox(0, 100, rule.threshold, m_table);
            m_table->setCellWidget(row, ThresholdColumn, threshold);
            connect(threshold, &QSpinBox::valueChanged, this, [this] { keepEdits(); });
        } else {
            m_table->removeCellWidget(row, ThresholdColumn);
        }
        if (rule.hasHold) {
            auto* hold = spinBox(0, kMaxHoldSeconds, rule.holdSeconds, m_table);
            m_table->setCellWidget(row, HoldColumn, hold);
            connect(hold, &QSpinBox::valueChanged, this, [this] { keepEdits(); });
            auto* clear = spinBox(0, kMaxHoldSeconds, rule.clearSeconds, m_table);
            m_table->setCellWidget(row, ClearColumn, clear);
            connect(clear, &QSpinBox::valueChanged, this, [this] { keepEdits(); });
        } else {
            m_table->removeCellWidget(row, HoldColumn);
            m_table->removeCellWidget(row, ClearColumn);
        }
    }
    m_table->setVerticalHeaderLabels(names);
    m_filling = false;
}

void AlarmRulesDialog::keepEdits()
{
    if (m_filling) {
        return;
    }
    auto it = m_edits.find(m_shown);
    AlarmRuleScope scope = it != m_edits.end() ? it->second : m_store.load(m_shown);
    scope.overrides = !m_shown.empty() && m_override->isChecked();
    for (int row = 0; row < m_table->rowCount() && row < static_cast<int>(scope.rules.size());
         ++row) {
        AlarmRuleEdit& rule = scope.rules[static_cast<size_t>(row)];
        if (auto* enabled = qobject_cast<QCheckBox*>(m_table->cellWidget(row, EnabledColumn))) {
            rule.enabled = enabled->isChecked();
        }
        if (auto* threshold = qobject_cast<QSpinBox*>(m_table->cellWidget(row, ThresholdColumn))) {
            rule.threshold = threshold->value();
        }
        if (auto* hold = qobject_cast<QSpinBox*>(m_table->cellWidget(row, HoldColumn))) {
            rule.holdSeconds = hold->value();
        }
        if (auto* clear = qobject_cast<QSpinBox*>(m_table->cellWidget(row, ClearColumn))) {
            rule.clearSeconds = clear->value();
        }
    }
    m_edits[m_shown] = std::move(scope);
}

void AlarmRulesDialog::SaveEdits()
{
    keepEdits();
    for (const auto& [device, scope] : m_edits) {
        m_store.save(device, scope);
    }
    m_edits.clear();
}

} // namespace vireo::ui
