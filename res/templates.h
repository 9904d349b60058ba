// Dialog templates as data: the dialogs are built from these tables.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace orvanel::res {

enum class ControlKind { PushButton, GroupBox, Label, Edit, CheckBox, ComboBox, ListView, Icon };

// Style flags of a control (a subset of what the dialog editor offers).
enum Style : std::uint32_t {
  kVisible = 1u << 0,
  kTabStop = 1u << 1,
  kGroup = 1u << 2,  // starts a new control group
  kDisabled = 1u << 3,
  kBorder = 1u << 4,
  kCenter = 1u << 5,
  kAutoHScroll = 1u << 6,
  kReadOnly = 1u << 7,
  kAutoCheckBox = 1u << 8,  // two-state, toggles itself
  kDropDownList = 1u << 9,  // no typing
  kVScroll = 1u << 10,
  kReport = 1u << 11,
  kDefPushButton = 1u << 12,
  kNoPrefix = 1u << 13,  // '&' is shown, not an access key
};

// x, y, w, h are dialog units.
struct ControlTemplate {
  int id;
  ControlKind kind;
  std::string_view caption;
  int x, y, w, h;
  std::uint32_t style;
};

enum FrameStyle : std::uint32_t {
  kPopup = 1u << 0,
  kCaption = 1u << 1,
  kSysMenu = 1u << 2,
  kMinimizeBox = 1u << 3,
  kModalFrame = 1u << 4,
  kSetFont = 1u << 5,
  kAppWindow = 1u << 6,
  kFrameVisible = 1u << 7,
};

struct DialogTemplate {
  int id;
  std::string_view caption;
  int w, h;  // dialog units
  int fontPoints;
  std::string_view fontFace;
  std::uint32_t frameStyle;
  std::span<const ControlTemplate> controls;  // template order = tab order
};

const DialogTemplate& CaptureDialogTemplate();
const DialogTemplate& AboutDialogTemplate();

struct ListColumn {
  std::string_view heading;
  int widthPixels;
};
// The packet table's columns, in index order, all left-aligned; as many as
// the rows have texts (the dialog checks that at compile time).
inline constexpr std::array kPacketListColumns = {
    ListColumn{"协议", 40},  ListColumn{"源IP地址", 105}, ListColumn{"端口", 50},        ListColumn{"目的IP地址", 105},
    ListColumn{"端口", 50}, ListColumn{"长度", 50},       ListColumn{"数据包内容", 180},
};

// Extended list styles of the packet table: grid lines, track-select,
// header drag-and-drop and full-row select.
inline constexpr std::uint32_t kPacketListExtendedStyle = 0x39;

}  // namespace orvanel::res
