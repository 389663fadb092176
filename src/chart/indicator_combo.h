// Indicator combinations (.icb files): the formulas of every pane of a picture, by type and
// name, saved under a name of the user's and loaded into every picture of a chart view.
//
// Layout (little-endian): magic 0x49433033 ("30CI"), the pane count (int32), then 6 panes x 30
// entries x 24 bytes: the formula type (int32) and its name (char[20], at most 19 characters,
// NUL-terminated, zero-filled); 4328 bytes in all. Two older layouts are read: 0x49430001 with
// the pane count and 6 names of 20 bytes (one sub-chart formula a pane) and 0x49430002 with
// the pane count and 6 x 30 names of 20 bytes (all sub-chart formulas).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "chart/chart_view.h"

namespace tessaro::chart {

inline constexpr uint32_t kComboMagic = 0x49433033;
inline constexpr uint32_t kComboMagicV1 = 0x49430001;
inline constexpr uint32_t kComboMagicV2 = 0x49430002;
inline constexpr int kComboPanes = 6;
inline constexpr int kComboEntries = 30;
inline constexpr int kComboNameBytes = 20;
inline constexpr size_t kComboFileSize = 8 + kComboPanes * kComboEntries * 24;  // 4328

// The message for a file of another format (caption "系统提示").
inline constexpr const char* kComboUnknownFormat = "未知的文件格式!";

struct IndicatorCombination {
    // Pane 0 is the main pane; each holds (type, GBK name) in order. 1 .. 6 panes.
    std::vector<std::vector<std::pair<uint32_t, std::string>>> panes;
};

enum class ComboError { kNone, kUnreadable, kUnknownFormat, kTooShort };

// Reads a file image. A pane count outside 1 .. 6 is held to it, a name runs to its first NUL
// and at most 19 characters, a pane's list stops at its first empty name, and an entry whose
// type is not a formula type is skipped. A file shorter than its layout is ignored (kTooShort).
bool ParseCombination(std::span<const uint8_t> bytes, IndicatorCombination& out, ComboError& error);
// The current layout; panes beyond 6 and entries beyond 30 are not written, names are cut to 19.
std::vector<uint8_t> SerializeCombination(const IndicatorCombination& combo);

bool LoadCombination(const std::string& path, IndicatorCombination& out, ComboError& error);
// Written to a temporary file and renamed over the old one.
bool SaveCombination(const std::string& path, const IndicatorCombination& combo);

// The messages of saving (the input box "输入名称", its question and its refusal).
inline constexpr const char* kComboNameCaption = "输入名称";
inline constexpr const char* kComboNamePrompt = "    将该画面指标(包括叠加指标)作为一个\r\n组合保存下来,需要输入该组合名称:";
inline constexpr const char* kComboOverwrite = "同名组合已经存在,覆盖吗?";
inline constexpr const char* kComboBadName = "您输入的字符中有不能用于文件命名的字符,请重新保存！";
inline constexpr const char* kComboOpenTitle = "打开指标组合文件";
inline constexpr const char* kComboFilter = "组合文件(*.icb)";

// The file of a combination name in the combination directory ("<dir>/<name>.icb"); false for
// a name that cannot be a file name (empty, ".", "..", a path separator, a control character
// or one of \ / : * ? " < > |).
bool ComboFilePath(const std::string& dir, const std::string& name, std::string& path);

// The panes of a picture as a combination.
IndicatorCombination CombinationOf(const GraphPicture& picture);
// Every picture of the view gets the combination's panes, refilled with those of its formulas
// that exist in the set (the caller updates from level 1).
void ApplyCombination(ChartView& view, const IndicatorCombination& combo);

}  // namespace tessaro::chart
