#pragma once

namespace vireo {

inline constexpr int kLanguageRowCount = 393;

namespace lang_rows {
// Every text of the interface, by id, as 8-bit bytes (Chinese as GBK).
extern const char* const kEnglish[kLanguageRowCount];
extern const char* const kChinese[kLanguageRowCount];
} // namespace lang_rows

} // namespace vireo
