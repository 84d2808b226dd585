#pragma once

#include "database/records.h"
#include "dialogs/word_field.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vireo {

using SatelliteWire = std::array<uint8_t, SatelliteRecord::kWireSize>;

// What the satellite dialog is doing: editing a stored satellite ("LNB Set"),
// making a new one ("Add Satellite"), or nothing.
enum class SatDialogMode : uint8_t {
    Set = 0,
    Add = 1,
    Idle = 2,
};

// The entries of the satellite dialog. Frequencies are the edit texts, the
// name is GBK bytes.
struct SatelliteFields
{
    std::string highLo;
    std::string lowLo;
    int lnbPower = 0; // 0 Auto, 1 Close
    int tone22k = 0;  // 0 Close, 1 Open
    int diseqc = 0;   // 0 Close, 1-4 Port A-D
    std::string name;
};

// The entries for a stored record: frequencies in decimal, the three lists
// from the LNB flags (bits 0-1, 2-3 and 5-7), the name up to its NUL as it is
// shown (SatelliteRecord::DisplayName).
SatelliteFields SatelliteFieldsFromRecord(const SatelliteWire& record);

// The entries of a new satellite: empty frequencies, every list at its first
// item, the name "UnNamed".
SatelliteFields NewSatelliteFields();

// The LNB flags byte for the three lists. A list without a selection keeps
// the bits `stored` has for it, so an unknown value the operator left alone
// goes back unchanged. A DiSEqC port sets bit 4 as well; "Close" clears bits
// 4 to 7.
uint8_t BuildLnbFlags(int lnbPower, int tone22k, int diseqc, uint8_t stored);

// The name as it goes into the record: in Set mode without its leading
// blanks, in Add mode as typed; then cut at a character boundary to the 31
// bytes that leave room for the terminating zero.
std::string SatelliteNameForRecord(std::string_view name, SatDialogMode mode);

// Which frequency edit stopped the request, and why.
enum class SatelliteField {
    None,
    HighLo,
    LowLo,
};

struct SatelliteRequest
{
    SatelliteWire record{};
    SatelliteField badField = SatelliteField::None;
    WordFault fault = WordFault::None;

    bool Ok() const { return badField == SatelliteField::None; }
};

// The 40-byte request for the entries. Set mode starts from the stored
// record (index and links kept), Add mode from zeros; then the flags go into
// byte 3, the high and low frequencies into bytes 4-5 and 6-7 (low byte
// first) and the name, zero-padded, into bytes 8-39. The high frequency is
// read first; the first edit that is not a 16-bit whole number is reported
// and the record is then not to be sent. In Set mode a name left as it was
// shown keeps the stored bytes, whatever they hold.
SatelliteRequest BuildSatelliteRequest(SatDialogMode mode, const SatelliteWire& stored,
                                       const SatelliteFields& fields);

} // namespace vireo
