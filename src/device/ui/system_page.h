#pragma once

#include "link/device_view.h"

#include <QColor>
#include <QScrollArea>
#include <string>

class QAbstractButton;
class QComboBox;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace vireo {
class DeviceContent;
}

namespace vireo::ui {

// What the system page needs of the device window that holds it.
class SystemPageHost
{
public:
    virtual ~SystemPageHost() = default;
    // The window title (address ":" name), the start of every confirmation.
    virtual std::string Caption() const = 0;
    // False while the window is closing or has no link to its device.
    virtual bool SystemCommandsAllowed() const = 0;
    // The source the device last reported: 0 "LNB IN", 1 "ASI IN", 9 unknown.
    virtual int SignalSourceIndex() const = 0;
    virtual DeviceContent& Content() = 0;
    virtual void SendReboot() = 0;
};

// TabSheet_system: the device's basic settings (applied together with
// "Apply", undone with "Cancel"), the volume, the signal source, the factory
// reset and the restart. The page shows what the device reported; its edits
// stay local until "Apply". It scrolls rather than holding the tab area
// taller than the window's layout gives it.
class SystemPage : public QScrollArea
{
    Q_OBJECT
public:
    explicit SystemPage(QWidget* parent = nullptr);

    void SetHost(SystemPageHost* host) { m_host = host; }
    void ApplyCaptions();

    // Fills the basic settings; a choice of -1 leaves its group unselected.
    void ShowSettings(const SystemSettings& settings);
    // What the basic settings' controls choose now.
    SystemSettings Settings() const;
    void ShowVolume(const VolumeDisplay& volume);
    QColor VolumeColour() const { return m_volumeColour; }

    QComboBox* SignalSource() const { return m_signal; }
    QProgressBar* VolumeGauge() const { return m_volume; }

private:
    QRadioButton* radio(const char* name, int row, QWidget* group);
    static int checkedIndex(const std::initializer_list<QRadioButton*>& buttons);
    static void select(const std::initializer_list<QRadioButton*>& buttons, int index);
    bool commandsAllowed() const;
    bool confirm(int row);

    void onApply();
    void onCancel();
    void onVolumeUp();
    void onVolumeDown();
    void onSilence();
    void onReset();
    void onReboot();
    void onSignalChosen(int index);

    SystemPageHost* m_host = nullptr;
    QRadioButton* m_length188 = nullptr;
    QRadioButton* m_length204 = nullptr;
    QRadioButton* m_tsOriginal = nullptr;
    QRadioButton* m_tsDescrambled = nullptr;
    QRadioButton* m_tsOff = nullptr;
    QRadioButton* m_english = nullptr;
    QRadioButton* m_chinese = nullptr;
    QRadioButton* m_ratio4To3 = nullptr;
    QRadioButton* m_ratio16To9 = nullptr;
    QRadioButton* m_osd[4] = {};
    QSpinBox* m_polling = nullptr;
    QProgressBar* m_volume = nullptr;
    QColor m_volumeColour{0, 255, 0};
    QPushButton* m_silence = nullptr;
    QComboBox* m_signal = nullptr;
};

} // namespace vireo::ui
