#include "log/log_buffer.h"

#include "lang/display_text.h"

namespace vireo {

LogBuffer::LogBuffer(std::string caption, std::filesystem::path logsFolder)
    : m_caption(std::move(caption)), m_logsFolder(std::move(logsFolder))
{}

void LogBuffer::SetCaption(std::string caption)
{
    std::lock_guard lock(m_mutex);
    m_caption = std::move(caption);
}

std::string LogBuffer::Caption() const
{
    std::lock_guard lock(m_mutex);
    return m_caption;
}

std::vector<std::string> LogBuffer::SetObserver(LogPaneObserver* observer)
{
    std::lock_guard lock(m_mutex);
    m_observer = observer;
    return observer == nullptr ? std::vector<std::string>{} : m_lines;
}

void LogBuffer::AddLogLine(std::string_view message)
{
    // The caption's name is the operator's (or the settings file's) text.
    std::string line = FormatLogPrefix(DisplayText(Caption()));
    line += message;
    AddRawLine(line);
}

void LogBuffer::AddRawLine(std::string_view text)
{
    std::lock_guard lock(m_mutex);
    std::string line(text);
    m_lines.push_back(line);
    m_lastLine = line;
    if (m_observer != nullptr) {
        m_observer->OnLogLineAdded(line);
    }
    if (m_lines.size() >= kFlushLines) {
        flushLocked(false);
    }
}

void LogBuffer::AppendToLastLine(std::string_view text)
{
    std::lock_guard lock(m_mutex);
    // After a flush the pane is empty and its caret at the start: the text
    // begins a line of its own.
    if (m_lines.empty()) {
        m_lines.emplace_back();
    }
    m_lines.back() += text;
    m_lastLine = m_lines.back();
    if (m_observer != nullptr) {
        m_observer->OnLogTextAppended(std::string(text));
    }
}

void LogBuffer::FlushOnClose()
{
    std::lock_guard lock(m_mutex);
    if (!m_lines.empty()) {
        flushLocked(true);
    }
}

size_t LogBuffer::LineCount() const
{
    std::lock_guard lock(m_mutex);
    return m_lines.size();
}

std::string LogBuffer::LastLine() const
{
    std::lock_guard lock(m_mutex);
    return m_lastLine;
}

std::string LogBuffer::Text() const
{
    std::lock_guard lock(m_mutex);
    return textLocked();
}

std::string LogBuffer::textLocked() const
{
    size_t size = 0;
    for (const auto& line : m_lines) {
        size += line.size() + 2;
    }
    std::string text;
    text.reserve(size);
    for (const auto& line : m_lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void LogBuffer::flushLocked(bool closing)
{
    // A missing folder or an unopenable file loses the batch; the pane is
    // emptied all the same so it cannot grow without bound.
    AppendLogFile(textLocked(), CaptionAddress(m_caption), closing, m_logsFolder);
    m_lines.clear();
    if (m_observer != nullptr) {
        m_observer->OnLogCleared();
    }
}

} // namespace vireo
