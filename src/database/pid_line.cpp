#include "database/pid_line.h"

#include "lang/language_table.h"

#include <cstdio>

namespace vireo {

namespace {

// Rows of the language table.
constexpr int kRowAudioPid = 96;
constexpr int kRowAc3Pid = 97;
constexpr int kRowUnknownAudioPid = 98;
constexpr int kRowVideoPid = 121;
constexpr int kRowPcrPid = 122;
constexpr int kRowTeletextPid = 123;

// Offsets in the first 20 bytes of a program record.
constexpr size_t kPcrOffset = 4;
constexpr size_t kVideoOffset = 6;
constexpr size_t kTeletextOffset = 8;
constexpr size_t kAudioOffsets[] = {12, 14, 16};

unsigned readWord(const uint8_t* record, size_t offset)
{
    return static_cast<unsigned>(record[offset]) | static_cast<unsigned>(record[offset + 1]) << 8;
}

// A field with kind bits below its PID is there when the PID is neither 0
// nor 0x1FFF.
bool hasTypedPid(unsigned word)
{
    return word > 7 && word < 0xFFF8;
}

int labelRow(int kind)
{
    switch (kind) {
    case kPidKindAudio:
        return kRowAudioPid;
    case kPidKindAc3:
        return kRowAc3Pid;
    case kPidKindVideo:
        return kRowVideoPid;
    case kPidKindPcr:
        return kRowPcrPid;
    case kPidKindTeletext:
        return kRowTeletextPid;
    default:
        return kRowUnknownAudioPid;
    }
}

} // namespace

std::string FormatPid(int format, unsigned value, int kind)
{
    std::string entry = GetLangText(labelRow(kind));
    char number[16];
    if (format == kPidFormatDecimal) {
        std::snprintf(number, sizeof number, "%ud; ", value);
    } else if (format == kPidFormatHex) {
        std::snprintf(number, sizeof number, "%xh; ", value);
    } else {
        return entry;
    }
    return entry + number;
}

std::string BuildPidLine(const uint8_t* record20, int format)
{
    if (record20 == nullptr || (format != kPidFormatDecimal && format != kPidFormatHex)) {
        return {};
    }
    std::string line;
    const unsigned video = readWord(record20, kVideoOffset);
    if (hasTypedPid(video)) {
        line += FormatPid(format, video >> 3, kPidKindVideo);
    }
    for (const size_t offset : kAudioOffsets) {
        const unsigned audio = readWord(record20, offset);
        if (hasTypedPid(audio)) {
            line += FormatPid(format, audio >> 3, static_cast<int>(audio & 7));
        }
    }
    const unsigned pcr = readWord(record20, kPcrOffset);
    if (pcr != 0) {
        line += FormatPid(format, pcr, kPidKindPcr);
    }
    const unsigned teletext = readWord(record20, kTeletextOffset);
    if (teletext != 0) {
        line += FormatPid(format, teletext, kPidKindTeletext);
    }
    return line;
}

int PidLineFormat(std::string_view text)
{
    if (text.size() < 3) {
        return kPidFormatNone;
    }
    switch (text[text.size() - 3]) {
    case 'd':
    case 'D':
        return kPidFormatDecimal;
    case 'h':
    case 'H':
        return kPidFormatHex;
    default:
        return kPidFormatNone;
    }
}

bool SetNodeIcon(ProgramTree& tree, int code, TreeNodeId id)
{
    auto lock = tree.Lock();
    if (!tree.Exists(id)) {
        return false;
    }
    const auto imageWithoutState = [&](int image) {
        tree.SetImage(id, image);
        tree.SetStateImage(id, kNoTreeImage);
    };
    const auto redrawnImage = [&](int image) {
        tree.SetImage(id, kNoTreeImage);
        tree.SetImage(id, image);
    };
    switch (code) {
    case kIconSatellite:
        imageWithoutState(kProgImageSatellite);
        return true;
    case kIconTp:
        imageWithoutState(kProgImageTp);
        return true;
    case kIconTvProgram:
        tree.SetImage(id, kProgImageTvProgram);
        return true;
    case kIconRadioProgram:
        tree.SetImage(id, kProgImageRadioProgram);
        return true;
    case kIconPidLine:
        imageWithoutState(kProgImagePidLine);
        return true;
    case kIconModuleUp:
        redrawnImage(kProgImageModuleUp);
        return true;
    case kIconModuleDown:
        redrawnImage(kProgImageModuleDown);
        return true;
    case kIconPlaying:
        tree.SetStateImage(id, kProgImagePlaying);
        return true;
    case kIconPlayingGood:
        tree.SetStateImage(id, kProgImagePlayingGood);
        return true;
    case kIconNoState:
        tree.SetStateImage(id, kNoTreeImage);
        return true;
    default:
        return false;
    }
}

int ProgramImage(int moduleState, bool radioTree)
{
    switch (moduleState) {
    case 1:
        return kProgImageModuleDown;
    case 2:
        return kProgImageModuleUp;
    default:
        return radioTree ? kProgImageRadioProgram : kProgImageTvProgram;
    }
}

bool SwitchPidFormat(ProgramTree& tree, int format, const uint8_t* record20)
{
    if (record20 == nullptr) {
        return false;
    }
    auto lock = tree.Lock();
    const TreeNodeId selected = tree.Selected();
    const TreeNode parent = tree.Node(tree.Parent(selected));
    if (selected == kNoTreeNode || parent.dataKind != TreeNodeData::Program) {
        return false;
    }
    tree.SetText(selected, BuildPidLine(record20, format));
    return true;
}

} // namespace vireo
