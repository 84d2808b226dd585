#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QAction;
class QMenu;
class QToolButton;
class QWidget;

namespace vireo {
class DatabaseContent;
}

namespace vireo::ui {

// A snapshot file chosen in a file dialog run through ModalSeam (to save
// one: `start` is the proposed path); empty when cancelled.
QString ChooseSnapshotFile(QWidget* parent, bool save, const QString& start = {});

// The device window's snapshot commands: "Save Snapshot...", "Compare with
// Snapshot..." and "Apply Snapshot...". Files are chosen in file dialogs
// run through ModalSeam; they are written and read on a worker thread, so
// the UI never waits on the disk. One command runs at a time.
class SnapshotCommands : public QObject
{
    Q_OBJECT
public:
    // `content` is the window's device content (null: the commands stay
    // disabled); `caption` gives the window's "address:name" (GBK).
    SnapshotCommands(QWidget* window, DatabaseContent* content,
                     std::function<std::string()> caption);
    ~SnapshotCommands() override;

    void AddTo(QMenu* menu);
    // A button on `parent` that opens the commands in a menu, where the
    // window shows them without a menu bar of its own.
    QToolButton* MakeButton(QWidget* parent);
    // The texts again, in the interface's language.
    void ApplyCaptions();
    QAction* SaveAction() const { return m_save; }
    QAction* CompareAction() const { return m_compare; }
    QAction* ApplyAction() const { return m_apply; }

    // The last file a command wrote or read, and the last message it showed.
    QString LastFile() const { return m_lastFile; }

public slots:
    void Save();
    void Compare();
    void Apply();

private:
    QString chooseFile(bool save);
    bool databaseReady();
    // Runs `work` on the worker, then `done` on the UI thread.
    void runOnWorker(std::function<void()> work, std::function<void()> done);
    void setBusy(bool busy);

    QWidget* m_window;
    DatabaseContent* m_content;
    std::function<std::string()> m_caption;
    QAction* m_save;
    QAction* m_compare;
    QAction* m_apply;
    QPointer<QToolButton> m_button;
    std::thread m_worker;
    bool m_busy = false;
    QString m_lastFile;
};

} // namespace vireo::ui
