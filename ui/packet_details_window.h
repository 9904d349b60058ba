// One datagram in a window of its own: its headers field by field and a dump
// of all its bytes. Everything shown is made when the window opens, so it
// stays as it is when the list's rows go at Clear list.
#pragma once

#include <QWidget>
#include <cstdint>
#include <span>

class QPlainTextEdit;
class QTreeWidget;

namespace orvanel {

class PacketDetailsWindow final : public QWidget {
  Q_OBJECT

 public:
  // A top-level window over parent, deleted when closed. program: the local
  // program of the datagram's conversation, a "程序" line when not empty.
  PacketDetailsWindow(std::span<const std::uint8_t> datagram, std::int64_t captureTimeNs, const QString& program,
                      QWidget* parent);

  [[nodiscard]] QTreeWidget* Fields() const { return m_fields; }
  [[nodiscard]] QPlainTextEdit* Dump() const { return m_dump; }

 private:
  QTreeWidget* m_fields;
  QPlainTextEdit* m_dump;
};

}  // namespace orvanel
