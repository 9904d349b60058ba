// Track-select for a list: the row under the pointer is highlighted, and it
// becomes selected once the pointer has rested on it for the hover time.
#pragma once

class QAbstractItemView;

namespace orvanel {

// The usual desktop hover time.
inline constexpr int kHoverMilliseconds = 400;

void EnableTrackSelect(QAbstractItemView& view);

}  // namespace orvanel
