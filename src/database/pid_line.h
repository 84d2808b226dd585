#pragma once

#include "database/program_tree.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vireo {

// How the numbers of a PID line are written.
inline constexpr int kPidFormatNone = 0;
inline constexpr int kPidFormatDecimal = 1; // "512d; "
inline constexpr int kPidFormatHex = 2;     // "200h; "

// What a PID entry is labelled as. 1 and 4 are the audio type bits of a
// program's audio field; any kind not listed here is an untyped audio.
inline constexpr int kPidKindAudio = 1;
inline constexpr int kPidKindAc3 = 4;
inline constexpr int kPidKindVideo = 10;
inline constexpr int kPidKindPcr = 11;
inline constexpr int kPidKindTeletext = 12;

// Pictures of the device window's image list, which serves for node images
// and state images of both program trees.
inline constexpr int kProgImageSatellite = 0;
inline constexpr int kProgImageTp = 1;
inline constexpr int kProgImageTvProgram = 2;
inline constexpr int kProgImageRadioProgram = 3;
inline constexpr int kProgImagePidLine = 4;
inline constexpr int kProgImagePlayingGood = 5; // state: playing, signal locked and program playing
inline constexpr int kProgImageModuleUp = 7;    // program on the upper descrambling module
inline constexpr int kProgImageModuleDown = 8;  // program on the lower descrambling module
inline constexpr int kProgImagePlaying = 9;     // state: playing, signal or program not right

// Codes of SetNodeIcon.
inline constexpr int kIconSatellite = 1;
inline constexpr int kIconTp = 2;
inline constexpr int kIconTvProgram = 3;
inline constexpr int kIconRadioProgram = 4;
inline constexpr int kIconPidLine = 5;
inline constexpr int kIconPlaying = 8;     // state image kProgImagePlaying
inline constexpr int kIconPlayingGood = 9; // state image kProgImagePlayingGood
inline constexpr int kIconNoState = 10;
inline constexpr int kIconModuleUp = 13;
inline constexpr int kIconModuleDown = 14;

// One entry of a PID line: the label of `kind` in the active language, then
// `value` as "%dd; " (decimal) or "%xh; " (hexadecimal, lower case). Any other
// format gives the label alone.
std::string FormatPid(int format, unsigned value, int kind);

// The PID line of a program from the first 20 bytes of its record: video,
// audio 1 to 3, PCR and teletext, each only when present. Empty for a record
// without any PID, for a null record and for formats other than decimal and
// hexadecimal (a line is never written without numbers).
std::string BuildPidLine(const uint8_t* record20, int format);

// The format an existing PID line was written in, read from the character
// three places from its end ('d'/'D' decimal, 'h'/'H' hexadecimal);
// kPidFormatNone for anything else, an empty line included.
int PidLineFormat(std::string_view text);

// Sets a node's image or state image by code (kIcon*). Codes 1, 2 and 5 also
// remove the state image; 13 and 14 clear the image before setting it, so the
// widget redraws it. False for an unknown node or code.
bool SetNodeIcon(ProgramTree& tree, int code, TreeNodeId id);

// The image of a program node by the record's descrambling module state.
// A state other than 1 (lower module) and 2 (upper module) counts as no
// module, so a device reporting a state this program does not know still
// shows a plain TV or radio program.
int ProgramImage(int moduleState, bool radioTree);

// Rewrites the selected PID line of `tree` in `format` from `record20`, the
// record of the selected node's parent (the caller holds it under its list
// lock). Formats other than decimal and hexadecimal leave the line empty.
// Does nothing and returns false when the record is null or the selection is
// not a child of a program node.
bool SwitchPidFormat(ProgramTree& tree, int format, const uint8_t* record20);

} // namespace vireo
