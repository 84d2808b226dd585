#pragma once

#include "log/log_buffer.h"

#include <QPlainTextEdit>

namespace vireo::ui {

// Memo_log: shows a device window's LogBuffer. Lines arrive from the session
// thread and the UI thread with the buffer's lock held; each is re-posted to
// the pane in order, so the pane holds exactly the buffer's lines and empties
// when the buffer is flushed to the log file.
class LogPane : public QPlainTextEdit, public LogPaneObserver
{
    Q_OBJECT
public:
    LogPane(LogBuffer& buffer, QWidget* parent = nullptr);
    ~LogPane() override;

    void OnLogLineAdded(const std::string& line) override;
    void OnLogCleared() override;
    void OnLogTextAppended(const std::string& text) override;

private:
    LogBuffer& m_buffer;
};

} // namespace vireo::ui
