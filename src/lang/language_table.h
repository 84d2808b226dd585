#pragma once

#include "lang/language_rows.h"

#include <cstdint>
#include <string>

namespace vireo {

// The process-wide table of interface texts. It holds one language at a time,
// chosen at start-up; before it is first built every lookup gives the empty
// text. Lookups are safe from any thread.

// 0 selects Chinese, any other value English (the start-up dialog's selector index).
void SetLanguageFlag(uint8_t value);
uint8_t LanguageFlag();

// Fills the table with the language the flag selects. Always returns true.
bool BuildLanguageTable();

// Empties the table again (the main window does this when it closes).
void DestroyLanguageTable();

// Row `id` of the table, or the empty text for an id outside it or before the
// table has been built.
std::string GetLangText(int id);

} // namespace vireo
