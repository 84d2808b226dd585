#include "device/ui/log_pane.h"

#include "ui/gbk_text.h"

#include <QTextCursor>

namespace vireo::ui {

LogPane::LogPane(LogBuffer& buffer, QWidget* parent) : QPlainTextEdit(parent), m_buffer(buffer)
{
    setObjectName(QStringLiteral("Memo_log"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    m_buffer.SetObserver(this);
}

LogPane::~LogPane()
{
    m_buffer.SetObserver(nullptr);
}

void LogPane::OnLogLineAdded(const std::string& line)
{
    QMetaObject::invokeMethod(
        this, [this, text = FromGbk(line)] { appendPlainText(text); }, Qt::QueuedConnection);
}

void LogPane::OnLogCleared()
{
    QMetaObject::invokeMethod(
        this, [this] { clear(); }, Qt::QueuedConnection);
}

void LogPane::OnLogTextAppended(const std::string& text)
{
    QMetaObject::invokeMethod(
        this,
        [this, text = FromGbk(text)] {
            QTextCursor cursor(document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(text);
        },
        Qt::QueuedConnection);
}

} // namespace vireo::ui
