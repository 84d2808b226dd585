#include "dialogs/satellite_fields.h"

#include "lang/gbk_text.h"

#include <algorithm>

namespace vireo {

namespace {

constexpr uint8_t kPowerBits = 0x03;
constexpr uint8_t kToneBits = 0x0C;
constexpr uint8_t kDiseqcBits = 0xF0; // in-use bit and port
constexpr uint8_t kDiseqcOn = 0x10;
constexpr int kPowerChoices = 2;
constexpr int kToneChoices = 2;
constexpr int kDiseqcChoices = 5;

int choiceOf(int value, int choices)
{
    return value < choices ? value : kNoChoice;
}

bool validChoice(int choice, int choices)
{
    return choice >= 0 && choice < choices;
}

} // namespace

SatelliteFields SatelliteFieldsFromRecord(const SatelliteWire& record)
{
    SatelliteRecord view;
    view.wire = record;
    SatelliteFields fields;
    fields.highLo = std::to_string(view.HighLo());
    fields.lowLo = std::to_string(view.LowLo());
    fields.lnbPower = choiceOf(view.LnbPower(), kPowerChoices);
    fields.tone22k = choiceOf(view.Tone22k(), kToneChoices);
    fields.diseqc = choiceOf(view.DiseqcPort(), kDiseqcChoices);
    fields.name = view.DisplayName();
    return fields;
}

SatelliteFields NewSatelliteFields()
{
    SatelliteFields fields;
    fields.name = "UnNamed";
    return fields;
}

uint8_t BuildLnbFlags(int lnbPower, int tone22k, int diseqc, uint8_t stored)
{
    uint8_t flags = 0;
    flags |= validChoice(lnbPower, kPowerChoices) ? static_cast<uint8_t>(lnbPower)
                                                  : (stored & kPowerBits);
    flags |= validChoice(tone22k, kToneChoices) ? static_cast<uint8_t>(tone22k << 2)
                                                : (stored & kToneBits);
    if (!validChoice(diseqc, kDiseqcChoices)) {
        flags |= stored & kDiseqcBits;
    } else if (diseqc > 0) {
        flags |= static_cast<uint8_t>(kDiseqcOn | (diseqc << 5));
    }
    return flags;
}

std::string SatelliteNameForRecord(std::string_view name, SatDialogMode mode)
{
    if (mode == SatDialogMode::Set) {
        const size_t first = name.find_first_not_of(" \t");
        name.remove_prefix(first == std::string_view::npos ? name.size() : first);
    }
    return CutGbk(name, SatelliteRecord::kMaxName);
}

SatelliteRequest BuildSatelliteRequest(SatDialogMode mode, const SatelliteWire& stored,
                                       const SatelliteFields& fields)
{
    SatelliteRequest request;
    const WordField high = ReadWordField(fields.highLo);
    const WordField low = ReadWordField(fields.lowLo);
    if (!high.Ok()) {
        request.badField = SatelliteField::HighLo;
        request.fault = high.fault;
        return request;
    }
    if (!low.Ok()) {
        request.badField = SatelliteField::LowLo;
        request.fault = low.fault;
        return request;
    }

    SatelliteWire& record = request.record;
    if (mode == SatDialogMode::Set) {
        record = stored;
    }
    const uint8_t storedFlags = mode == SatDialogMode::Set ? stored[3] : 0;
    record[3] = BuildLnbFlags(fields.lnbPower, fields.tone22k, fields.diseqc, storedFlags);
    WriteLe16(&record[4], high.value);
    WriteLe16(&record[6], low.value);

    if (mode == SatDialogMode::Set) {
        SatelliteRecord view;
        view.wire = stored;
        if (fields.name == view.DisplayName()) {
            return request; // the IRD's own name goes back unchanged
        }
    }
    const std::string name = SatelliteNameForRecord(fields.name, mode);
    std::fill(record.begin() + SatelliteRecord::kHeaderSize, record.end(), 0);
    std::copy(name.begin(), name.end(), record.begin() + SatelliteRecord::kHeaderSize);
    return request;
}

} // namespace vireo
