#pragma once

#include <QWidget>

class QComboBox;
class QProgressBar;

namespace vireo::ui {

// TabSheet_system: the device's settings groups. The groups, their captions,
// the volume gauge and the signal source selector are in place; the controls
// stay disabled until the settings commands are wired to the device database.
class SystemPage : public QWidget
{
    Q_OBJECT
public:
    explicit SystemPage(QWidget* parent = nullptr);

    void ApplyCaptions();
    QComboBox* SignalSource() const { return m_signal; }
    QProgressBar* VolumeGauge() const { return m_volume; }

private:
    QComboBox* m_signal = nullptr;
    QProgressBar* m_volume = nullptr;
};

} // namespace vireo::ui
