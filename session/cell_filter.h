// The capture-filter expression that takes the rows sharing one cell's value,
// for "apply as filter": host A for an address, port N for a port, the
// protocol's name, len == N for the length.
#pragma once

#include <string>

#include "capture/listed_row.h"

namespace orvanel {

// Empty for a cell no expression stands for: the payload, an empty port.
std::string FilterForCell(const ListedRow& row, int column);

}  // namespace orvanel
