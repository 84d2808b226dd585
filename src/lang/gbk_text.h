#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vireo {

// Device names are GBK (code page 936); the database file is UTF-8.

// nullopt when the text is not valid UTF-8 or has a character GBK lacks.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

// Bytes that are not valid GBK come out as U+FFFD, one per byte.
std::string GbkToUtf8(std::string_view gbk);

// The longest prefix of at most `maxBytes` bytes that does not split a
// two-byte GBK character.
std::string CutGbk(std::string_view gbk, size_t maxBytes);

} // namespace vireo
