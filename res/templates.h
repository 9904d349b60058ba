// Dialog templates as data: the dialogs are built from these tables.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace orvanel::res {

enum class ControlKind { PushButton, GroupBox, Label, Edit, CheckBox, ComboBox, ListView, Icon };

// Style flags of a control that the dialog builder honours. What a kind
// implies is not repeated: a check box toggles itself, a combo box takes no
// typing, a list view is a report.
enum Style : std::uint32_t {
  kVisible = 1u << 0,
  kTabStop = 1u << 1,
  kDisabled = 1u << 2,
  kBorder = 1u << 3,
  kCenter = 1u << 4,
  kReadOnly = 1u << 5,
  kDefPushButton = 1u << 6,
};

// x, y, w, h are dialog units.
struct ControlTemplate {
  int id;
  ControlKind kind;
  std::string_view caption;
  int x, y, w, h;
  std::uint32_t style;
};

// The title bar's buttons beyond the caption; a dialog always has a caption.
enum FrameStyle : std::uint32_t {
  kSysMenu = 1u << 0,  // the window menu and the close button
  kMinimizeBox = 1u << 1,
};

struct DialogTemplate {
  int id;
  std::string_view caption;
  int w, h;        // dialog units
  int fontPoints;  // the font that dialog units are measured in
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
    ListColumn{"协议", 40}, ListColumn{"源IP地址", 105}, ListColumn{"端口", 50},        ListColumn{"目的IP地址", 105},
    ListColumn{"端口", 50}, ListColumn{"长度", 50},      ListColumn{"数据包内容", 180},
};

// Extended styles of a list view.
enum ListExtendedStyle : std::uint32_t {
  kGridLines = 0x01,
  kTrackSelect = 0x08,     // the row under the pointer is highlighted, and selected after the hover time
  kHeaderDragDrop = 0x10,  // header sections can be dragged to reorder the columns
  kFullRowSelect = 0x20,
};
inline constexpr std::uint32_t kPacketListExtendedStyle = kGridLines | kTrackSelect | kHeaderDragDrop | kFullRowSelect;

}  // namespace orvanel::res
