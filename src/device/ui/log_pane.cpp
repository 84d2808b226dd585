#include "device/ui/log_pane.h"

#include "ui/gbk_text.h"

#include <QTextCursor>

namespace vireo::ui {

LogPane::LogPane(LogBuffer& buffer, QWidget* parent)
    : QPlainTextEdit(parent), m_buffer(buffer),
      m_pending(this, [this](Pending& pending) { apply(pending); })
{
    setObjectName(QStringLiteral("Memo_log"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    // Lines logged before the pane was made come first.
    for (const std::string& line : m_buffer.SetObserver(this)) {
        appendPlainText(FromGbk(line));
    }
}

LogPane::~LogPane()
{
    m_buffer.SetObserver(nullptr);
}

size_t LogPane::PendingChanges() const
{
    return m_pending.Inspect([](const Pending& pending) { return pending.changes.size(); });
}

void LogPane::OnLogLineAdded(const std::string& line)
{
    QString text = FromGbk(line);
    m_pending.Update([&text](Pending& p) { p.changes.push_back({std::move(text), true}); });
}

void LogPane::OnLogCleared()
{
    m_pending.Update([](Pending& p) {
        p.clear = true;
        p.changes.clear();
    });
}

void LogPane::OnLogTextAppended(const std::string& text)
{
    QString piece = FromGbk(text);
    m_pending.Update([&piece](Pending& p) {
        if (!p.changes.empty() && !p.changes.back().newLine) {
            p.changes.back().text += piece;
        } else {
            p.changes.push_back({std::move(piece), false});
        }
    });
}

void LogPane::apply(Pending& pending)
{
    if (pending.clear) {
        clear();
    }
    for (const Change& change : pending.changes) {
        if (change.newLine) {
            appendPlainText(change.text);
        } else {
            QTextCursor cursor(document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(change.text);
        }
    }
}

} // namespace vireo::ui
