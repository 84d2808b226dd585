// Parses arbitrary bytes as a settings file and checks what the start-up
// dialog would be given: only valid addresses, names within their limit, rows
// that match the machines, a known language, and machines that survive being
// written and read again.
#include "app/settings_file.h"
#include "log/address_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

using namespace vireo;

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "settings parser: %s\n", what);
        std::abort();
    }
}

bool hasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);

    for (size_t pos = 0; pos <= size + 1; pos += 1 + pos / 4) {
        const size_t next = NextLineStart(data, pos);
        check(next <= size, "line start past the end");
        check(pos >= size || next > pos, "line start does not advance");
    }

    const SettingsReadResult r = ParseSettings(data);
    check(r.checkboxes, "check boxes off");
    check(r.languageIndex == 0 || r.languageIndex == 1, "language index");
    check(r.items.size() == r.machines.size(), "rows and machines differ");
    std::vector<SettingsMachine> saved;
    for (size_t i = 0; i < r.machines.size(); ++i) {
        const ChosenMachine& m = r.machines[i];
        check(m.index == static_cast<int>(i), "index");
        check(m.open, "open flag");
        check(IsValidIPv4Text(m.address), "invalid address accepted");
        check(m.name.size() <= kMaxMachineNameLength, "name too long");
        check(r.items[i].caption == m.address + ":" + m.name, "caption");
        check(r.items[i].checked == m.autoConnect, "tick");
        saved.push_back({r.items[i].caption, m.autoConnect});
    }

    // Written and read again, every machine comes back once, in order; its
    // name too unless it held a line break, which the writer replaces.
    const SettingsReadResult again = ParseSettings(FormatSettings(saved, r.languageIndex));
    check(again.languageIndex == r.languageIndex, "language lost");
    check(again.machines.size() == r.machines.size(), "machines lost or added");
    for (size_t i = 0; i < r.machines.size(); ++i) {
        const ChosenMachine& a = r.machines[i];
        const ChosenMachine& b = again.machines[i];
        check(a.address == b.address && a.autoConnect == b.autoConnect, "machine changed");
        check(hasLineBreak(a.name) || a.name == b.name, "name changed");
    }
    return 0;
}
