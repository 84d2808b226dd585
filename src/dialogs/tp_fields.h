#pragma once

#include "database/records.h"
#include "dialogs/word_field.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace vireo {

using TpWire = std::array<uint8_t, TpRecord::kWireSize>;

// What the transponder dialog is doing: changing a stored transponder
// ("Modify TP"), adding one under a satellite ("Add TP"), or nothing.
enum class TpDialogMode : uint8_t {
    Modify = 0,
    Add = 1,
    Idle = 2,
};

// Modulations in list order: QPSK_S2, 8PSK_S2, QPSK_S, 8PSK_S.
inline constexpr int kModulationCount = 4;

// The message for a transponder the device cannot tune: frequency or symbol
// rate 0, or no FEC rate.
inline constexpr const char* kTpCheckMessage = "Please check and re-set!";

// The texts of the modulation list, in list (and byte) order.
std::span<const char* const> ModulationTexts();

// The FEC list of a modulation (0-3), in list order; empty for any other
// value. A transponder's FEC byte is the index in its modulation's list, so
// the same byte means different rates under different modulations.
std::span<const char* const> FecTexts(int modulation);

// The entries of the transponder dialog (list indexes, kNoChoice for none).
// Each modulation has its own FEC list, and each list keeps its own
// selection while another modulation is chosen.
struct TpFields
{
    std::string frequency;
    std::string symbolRate;
    int polarisation = 0; // 0 Ver, 1 Hor
    int pilot = 0;        // 0 Close, 1 Open
    int modulation = 0;
    std::array<int, kModulationCount> fec{0, 0, 0, 0};

    // The selection of the chosen modulation's FEC list, or kNoChoice.
    int Fec() const;
};

// Fills the entries from a stored transponder. Only the FEC list of the
// record's modulation is set; the other lists keep their selection. A
// modulation outside 0-3 leaves the modulation list without a selection and
// clears the 8PSK_S list's selection. Any non-zero polarisation byte is
// horizontal.
void FillTpFields(TpFields& fields, const TpWire& record);

// The entries of a new transponder: frequency "0", empty symbol rate, every
// list at its first item; the FEC lists of the other modulations keep their
// selection.
void ResetTpFieldsForAdd(TpFields& fields);

enum class TpField {
    None,
    Frequency,
    SymbolRate,
};

struct TpRequest
{
    TpWire record{};
    // An edit that is not a 16-bit whole number (the frequency is read first).
    TpField badField = TpField::None;
    WordFault fault = WordFault::None;
    // Frequency 0, symbol rate 0 or no FEC rate.
    bool incomplete = false;

    bool Ok() const { return badField == TpField::None && !incomplete; }
};

// The 12-byte request for the entries. Modify mode starts from the stored
// record (index, satellite and links kept), Add mode from zeros with byte 1 the
// owning satellite's index. Bytes 4-5 frequency and 6-7 symbol rate (low byte
// first), 8 modulation, 9 pilot, 10 polarisation, 11 the FEC index or 0xFF.
// In Modify mode a list without a selection keeps the stored byte.
TpRequest BuildTpRequest(TpDialogMode mode, const TpWire& stored, uint8_t satelliteIndex,
                         const TpFields& fields);

} // namespace vireo
