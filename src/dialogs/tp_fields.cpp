#include "dialogs/tp_fields.h"

namespace vireo {

namespace {

constexpr const char* kModulations[] = {"QPSK_S2", "8PSK_S2", "QPSK_S", "8PSK_S"};
constexpr const char* kFecS2Qpsk[] = {"1_2", "3_5", "2_3", "3_4", "4_5", "5_6", "8_9", "9_10"};
constexpr const char* kFecS28psk[] = {"3_5", "2_3", "3_4", "5_6", "8_9", "9_10"};
constexpr const char* kFecSQpsk[] = {"Auto", "1_2", "2_3", "3_4", "5_6", "7_8"};
constexpr const char* kFecS8psk[] = {"1_2", "2_3", "3_4", "5_6", "7_8"};
constexpr int k8pskS = 3;
constexpr int kTwoChoices = 2;

bool validModulation(int modulation)
{
    return modulation >= 0 && modulation < kModulationCount;
}

bool validChoice(int choice, size_t choices)
{
    return choice >= 0 && static_cast<size_t>(choice) < choices;
}

// The list byte for a choice; in Modify mode a list without a selection keeps
// the stored byte, in Add mode it stays as `fallback`.
uint8_t listByte(int choice, size_t choices, uint8_t fallback)
{
    return validChoice(choice, choices) ? static_cast<uint8_t>(choice) : fallback;
}

} // namespace

std::span<const char* const> ModulationTexts()
{
    return kModulations;
}

std::span<const char* const> FecTexts(int modulation)
{
    switch (modulation) {
    case 0:
        return kFecS2Qpsk;
    case 1:
        return kFecS28psk;
    case 2:
        return kFecSQpsk;
    case 3:
        return kFecS8psk;
    default:
        return {};
    }
}

int TpFields::Fec() const
{
    if (!validModulation(modulation)) {
        return kNoChoice;
    }
    const int choice = fec[static_cast<size_t>(modulation)];
    return validChoice(choice, FecTexts(modulation).size()) ? choice : kNoChoice;
}

void FillTpFields(TpFields& fields, const TpWire& record)
{
    TpRecord view;
    view.wire = record;
    fields.frequency = std::to_string(view.Frequency());
    fields.symbolRate = std::to_string(view.SymbolRate());
    fields.polarisation = view.Horizontal() ? 1 : 0;
    fields.pilot = validChoice(view.Pilot(), kTwoChoices) ? view.Pilot() : kNoChoice;
    const int modulation = view.Modulation();
    if (validModulation(modulation)) {
        fields.modulation = modulation;
        fields.fec[static_cast<size_t>(modulation)] =
            validChoice(view.Fec(), FecTexts(modulation).size()) ? view.Fec() : kNoChoice;
    } else {
        fields.modulation = kNoChoice;
        fields.fec[k8pskS] = kNoChoice;
    }
}

void ResetTpFieldsForAdd(TpFields& fields)
{
    fields.frequency.assign(1, '0');
    fields.symbolRate.clear();
    fields.polarisation = 0;
    fields.pilot = 0;
    fields.modulation = 0;
    fields.fec[0] = 0;
}

TpRequest BuildTpRequest(TpDialogMode mode, const TpWire& stored, uint8_t satelliteIndex,
                         const TpFields& fields)
{
    TpRequest request;
    const WordField frequency = ReadWordField(fields.frequency);
    if (!frequency.Ok()) {
        request.badField = TpField::Frequency;
        request.fault = frequency.fault;
        return request;
    }
    const WordField symbolRate = ReadWordField(fields.symbolRate);
    if (!symbolRate.Ok()) {
        request.badField = TpField::SymbolRate;
        request.fault = symbolRate.fault;
        return request;
    }

    TpWire& record = request.record;
    const bool modify = mode == TpDialogMode::Modify;
    if (modify) {
        record = stored;
    } else {
        record[1] = satelliteIndex;
    }
    WriteLe16(&record[4], frequency.value);
    WriteLe16(&record[6], symbolRate.value);
    record[8] = listByte(fields.modulation, kModulationCount, modify ? record[8] : 0);
    record[9] = listByte(fields.pilot, kTwoChoices, modify ? record[9] : 0);
    record[10] = listByte(fields.polarisation, kTwoChoices, modify ? record[10] : 0);
    const int fec = fields.Fec();
    record[11] = fec == kNoChoice ? kNoIndex : static_cast<uint8_t>(fec);

    request.incomplete = frequency.value == 0 || symbolRate.value == 0 || fec == kNoChoice;
    return request;
}

} // namespace vireo
