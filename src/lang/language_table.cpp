#include "lang/language_table.h"

#include <atomic>

namespace vireo {

namespace {

std::atomic<uint8_t> g_languageFlag{0};
// The rows of the language now in the table, or null while it is empty. The
// rows themselves are constant, so switching the pointer is the whole rebuild.
std::atomic<const char* const*> g_rows{nullptr};

} // namespace

void SetLanguageFlag(uint8_t value)
{
    g_languageFlag.store(value, std::memory_order_relaxed);
}

uint8_t LanguageFlag()
{
    return g_languageFlag.load(std::memory_order_relaxed);
}

bool BuildLanguageTable()
{
    g_rows.store(LanguageFlag() == 0 ? lang_rows::kChinese : lang_rows::kEnglish,
                 std::memory_order_release);
    return true;
}

void DestroyLanguageTable()
{
    g_rows.store(nullptr, std::memory_order_release);
}

std::string GetLangText(int id)
{
    const char* const* rows = g_rows.load(std::memory_order_acquire);
    if (rows == nullptr || id < 0 || id >= kLanguageRowCount) {
        return {};
    }
    return rows[id];
}

} // namespace vireo
