#pragma once

#include "fleet/device_search.h"

#include <QWidget>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QTreeWidget;

namespace vireo::ui {

// The search across devices: a text, what it means (any, name, frequency,
// PID) and the hits of every connected device, each with its device, kind
// and path. Typing searches after a short pause, Return at once; activating
// a hit (double click, Return) asks the main window to reveal it.
class SearchPanel : public QWidget
{
    Q_OBJECT
public:
    using DeviceList = std::function<std::vector<DeviceDatabaseRef>()>;

    explicit SearchPanel(DeviceList devices, QWidget* parent = nullptr);

    void ApplyCaptions();
    // Puts the caret in the text box, its text selected.
    void FocusText();
    void RunSearch();

    QLineEdit* TextBox() const { return m_text; }
    QComboBox* ModeBox() const { return m_mode; }
    QTreeWidget* Results() const { return m_results; }
    const std::vector<SearchHit>& Hits() const { return m_hits; }
    // Activates hit `i` as a double click would.
    void ActivateHit(size_t i);

signals:
    void hitActivated(const vireo::SearchHit& hit);

private:
    DeviceList m_devices;
    QLineEdit* m_text = nullptr;
    QComboBox* m_mode = nullptr;
    QLabel* m_label = nullptr;
    QLabel* m_count = nullptr;
    QTreeWidget* m_results = nullptr;
    QTimer* m_typing = nullptr;
    std::vector<SearchHit> m_hits;
};

} // namespace vireo::ui
