#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace vireo::ui {

// The core keeps text as 8-bit GBK bytes (code page 936); widgets show
// QString. These two convert at the boundary, and nowhere else.
QString FromGbk(std::string_view bytes);
std::string ToGbk(const QString& text);

// Length in GBK bytes, e.g. to keep a name within the settings file's limit.
size_t GbkLength(const QString& text);

// Row `row` of the language table, ready for a widget.
QString LangText(int row);

// The C library's converter, which takes over when Qt has no GBK.
QString FromGbkIconv(std::string_view bytes);
std::string ToGbkIconv(const QString& text);

} // namespace vireo::ui
