#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QTableWidget;

namespace vireo::ui {

// One rule as the dialog edits it. A rule without a threshold (unlocked,
// link lost) or without a hold time (restart, version change) shows none.
struct AlarmRuleEdit
{
    int rule = 0; // the engine's rule number, passed back unchanged
    QString name;
    bool enabled = true;
    bool hasThreshold = false;
    int threshold = 0;   // %
    bool hasHold = true; // raise after / clear after
    int holdSeconds = 0;
    int clearSeconds = 0;

    bool operator==(const AlarmRuleEdit&) const = default;
};

// The rules of one scope: the global defaults (device "") or one device,
// which either follows the defaults or overrides them.
struct AlarmRuleScope
{
    bool overrides = false;
    std::vector<AlarmRuleEdit> rules;
};

// Where the dialog reads and writes the rules.
struct AlarmRuleStore
{
    std::function<AlarmRuleScope(const std::string& device)> load;
    std::function<void(const std::string& device, const AlarmRuleScope& scope)> save;
};

// The alarm rules: the global defaults and, per device, an override of them.
// Edits of every scope are kept while the operator moves between scopes and
// saved together with OK.
class AlarmRulesDialog : public QDialog
{
    Q_OBJECT
public:
    enum Column { EnabledColumn, ThresholdColumn, HoldColumn, ClearColumn };

    // `devices`: the devices that may have rules of their own, by address,
    // with the text that names them.
    AlarmRulesDialog(AlarmRuleStore store,
                     const std::vector<std::pair<std::string, QString>>& devices,
                     QWidget* parent = nullptr);

    void ApplyCaptions();
    // Selects a scope: "" the defaults, else a device address.
    void SelectScope(const std::string& device);
    // Saves every scope edited (OK does this before closing).
    void SaveEdits();

    QComboBox* ScopeBox() const { return m_scope; }
    QCheckBox* OverrideBox() const { return m_override; }
    QTableWidget* Table() const { return m_table; }

private:
    void showScope(const std::string& device);
    void keepEdits();
    std::string currentDevice() const;

    AlarmRuleStore m_store;
    std::map<std::string, AlarmRuleScope> m_edits;
    std::string m_shown;
    bool m_filling = false;
    QComboBox* m_scope = nullptr;
    QCheckBox* m_override = nullptr;
    QTableWidget* m_table = nullptr;
};

} // namespace vireo::ui
