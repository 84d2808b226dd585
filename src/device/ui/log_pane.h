#pragma once

#include "device/ui/coalesced_post.h"
#include "log/log_buffer.h"

#include <QPlainTextEdit>
#include <QString>
#include <vector>

namespace vireo::ui {

// Memo_log: shows a device window's LogBuffer. Lines arrive from the session
// thread and the UI thread with the buffer's lock held; they wait in order
// and are applied together in one posted call, so the pane holds exactly the
// buffer's lines and empties when the buffer is flushed to the log file. The
// buffer never holds more than a flush's worth, and neither does what waits
// here: a flush drops the lines still waiting for the pane.
class LogPane : public QPlainTextEdit, public LogPaneObserver
{
    Q_OBJECT
public:
    LogPane(LogBuffer& buffer, QWidget* parent = nullptr);
    ~LogPane() override;

    void OnLogLineAdded(const std::string& line) override;
    void OnLogCleared() override;
    void OnLogTextAppended(const std::string& text) override;

    // Lines and pieces of text waiting for the pane.
    size_t PendingChanges() const;

private:
    struct Change
    {
        QString text;
        bool newLine = true; // false: appended to the last line
    };
    struct Pending
    {
        bool clear = false; // the pane empties before the changes
        std::vector<Change> changes;
    };

    void apply(Pending& pending);

    LogBuffer& m_buffer;
    CoalescedPost<Pending> m_pending;
};

} // namespace vireo::ui
