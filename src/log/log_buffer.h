#pragma once

#include "log/log_file.h"

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// Receives the changes of a window's log pane, in order. Calls arrive on the
// thread that logged the line, with the buffer's lock held: an implementation
// must only hand the change on (e.g. post it to the UI thread), never block.
class LogPaneObserver
{
public:
    virtual ~LogPaneObserver() = default;
    virtual void OnLogLineAdded(const std::string& line) = 0;
    virtual void OnLogCleared() = 0;
    // Text added at the end of the last line (no new line).
    virtual void OnLogTextAppended(const std::string& /*text*/) {}
};

// The log pane of one device window: lines with the caption-and-time prefix.
// When it reaches 500 lines its whole text is appended to the IRD's log file
// and it is emptied; when the window goes, what is left is appended with the
// closing banner. Adding a line and a flush are one step with respect to other
// threads, so batches never interleave and no line is lost.
class LogBuffer
{
public:
    static constexpr size_t kFlushLines = 500;

    explicit LogBuffer(std::string caption = {}, std::filesystem::path logsFolder = kLogsFolder);

    // The window caption: the tag of every line (as its display text) and,
    // before its ':', the name of the log file.
    void SetCaption(std::string caption);
    std::string Caption() const;

    // Attaches `observer` (null detaches) and returns the lines it has not
    // been told of: those in the pane now, in one step with the attaching.
    std::vector<std::string> SetObserver(LogPaneObserver* observer);

    // Adds prefix + message as one line and flushes when the pane is full.
    void AddLogLine(std::string_view message);
    // Adds a line as it stands, without the caption-and-time prefix.
    void AddRawLine(std::string_view line);
    // Adds text at the end of the last line, as typed at the pane's caret.
    void AppendToLastLine(std::string_view text);

    // The destruction flush: writes the remaining lines and the closing banner,
    // or nothing at all when the pane is empty.
    void FlushOnClose();

    size_t LineCount() const;
    // The line added last (with what was appended to it), also after the
    // pane was flushed; empty before the first.
    std::string LastLine() const;
    // The pane's text: every line followed by CR LF.
    std::string Text() const;

private:
    std::string textLocked() const;
    void flushLocked(bool closing);

    mutable std::mutex m_mutex;
    std::string m_caption;
    std::filesystem::path m_logsFolder;
    std::vector<std::string> m_lines;
    std::string m_lastLine;
    LogPaneObserver* m_observer = nullptr;
};

} // namespace vireo
