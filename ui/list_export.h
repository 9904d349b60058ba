// "保存列表为 pcapng": the listed rows, oldest first, as a pcapng file.
#pragma once

#include <QString>
#include <optional>

namespace orvanel {

class PacketModel;

// Writes the rows the model shows to path, readable by its owner only. The
// file appears whole or not at all: an existing file is replaced only once
// every row is written. Returns why it failed, or nothing.
[[nodiscard]] std::optional<QString> SaveRowsAsPcapng(const PacketModel& model, const QString& path);

}  // namespace orvanel
