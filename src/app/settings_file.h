#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vireo {

// Vireo.ini, in the working directory, remembers the machines the operator
// works with, whether each was connected when the program last closed, and the
// interface language:
//
//   [Address]<CR LF>
//   machine=<y|n><address>:<name><CR LF>      one line per machine
//   [LANGUAGE]<CR LF>
//   language=<0 Chinese | 1 English><CR LF>
//   <CR LF>
//
// Names are raw bytes (GBK for Chinese) of at most 20 bytes.
inline constexpr const char* kSettingsFileName = "Vireo.ini";
inline constexpr size_t kMaxMachineNameLength = 20;

// Start of the line after the one at `pos`. A CR followed by LF ends the line
// (the result is just after the LF); a CR not followed by LF is stepped over
// together with the byte after it, which is not examined; any other byte is
// stepped over. Without a line end the result is data.size(), and it never
// exceeds data.size() (also for a `pos` past the end).
size_t NextLineStart(std::string_view data, size_t pos);

// One row of the start-up dialog's machine list.
struct ListItem
{
    std::string caption; // address ':' name, or the text explaining a read failure
    bool checked = false;

    bool operator==(const ListItem&) const = default;
};

// A machine accepted from the settings file.
struct ChosenMachine
{
    int index = 0;            // position of its row in the machine list
    std::string address;      // passes IsValidIPv4Text
    bool autoConnect = false; // 'y' in the file; the row's tick once confirmed
    bool open = false;        // set for every machine read from the file
    std::string name;         // empty when absent or longer than 20 bytes

    bool operator==(const ChosenMachine&) const = default;
};

// What reading the settings file gives the start-up dialog. When reading
// fails, `items` holds the single explanatory row, the check boxes are off and
// there are no machines.
struct SettingsReadResult
{
    bool checkboxes = false;
    std::vector<ListItem> items;
    std::vector<ChosenMachine> machines;
    int languageIndex = 0; // 0 Chinese, 1 English

    bool operator==(const SettingsReadResult&) const = default;
};

// The ways reading the file can fail, in the order they are checked.
enum class SettingsReadError {
    NoFile,      // missing, not a regular file, or not readable
    OpenFailed,  // opening it for reading failed
    BadHandle,   // the opened file cannot be queried
    SizeUnknown, // its size cannot be determined (or held in memory)
    ShortRead,   // fewer bytes arrived than its size
};

// The result a read failure gives: its explanatory row, check boxes off.
SettingsReadResult SettingsReadFailure(SettingsReadError error);

// Parses the bytes of a settings file. Check boxes are on, one row and one
// ChosenMachine per accepted machine line, in file order; the last
// "language=" line decides the language. Sections may come in either order and
// sections with other headers are skipped. A machine line is skipped when it is
// the last line of the data, has no ':', or its address is longer than 15
// characters or not a valid address; a name longer than 20 bytes is dropped
// (the machine is still listed, captioned "address:"). Duplicates are kept.
SettingsReadResult ParseSettings(std::string_view data);

// Reads and parses the file at `path`; see SettingsReadError for the failures.
SettingsReadResult ReadSettingsFile(const std::filesystem::path& path);

// A machine to be saved: its device window's caption (address ':' name) and
// whether it was ever connected during this run.
struct SettingsMachine
{
    std::string caption;
    bool everConnected = false;
};

// The exact bytes of a settings file. The caller passes the machines in the
// order of the machine tree (ascending caption order); they are written in the
// order given. A CR or LF inside a caption would break the line structure and
// is written as a space. `languageIndex` 0 writes '0' (Chinese), any other
// value '1' (English).
std::string FormatSettings(const std::vector<SettingsMachine>& machinesInTreeOrder,
                           int languageIndex);

// Writes FormatSettings(...) to `path` without ever leaving a partial file: the
// bytes go to a new file in the same folder, are flushed to disk, and that file
// then replaces `path` in one rename. A `path` that is a symbolic link is
// written through: the file it leads to is replaced and the link stays. On any
// failure the new file is removed, whatever was at `path` stays as it was, the
// result is false and `reason` (when given) tells why, e.g. "cannot create a
// file in /etc/vireo: Permission denied".
bool WriteSettingsFile(const std::filesystem::path& path,
                       const std::vector<SettingsMachine>& machinesInTreeOrder, int languageIndex,
                       std::string* reason = nullptr);

} // namespace vireo
