// Which listed rows a search takes: a capture-filter expression in libpcap's
// syntax, run on the row's stored datagram, or byte strings looked for in the
// row's payload column.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orvanel {

class RowMatcher {
 public:
  // Compiled for IPv4 datagrams, len being the header's total length;
  // nothing, and libpcap's reason in error, when the expression is bad.
  static std::unique_ptr<RowMatcher> ForExpression(const std::string& expression, std::string& error);
  // Rows whose payload column holds any of needles (the same text in the
  // encodings the column may show it in); nothing when needles is empty.
  static std::unique_ptr<RowMatcher> ForPayload(std::vector<std::string> needles);

  ~RowMatcher();
  RowMatcher(const RowMatcher&) = delete;
  RowMatcher& operator=(const RowMatcher&) = delete;

  // Any thread; the matcher is never changed after it is made.
  [[nodiscard]] bool Matches(std::span<const std::uint8_t> datagram) const;

 private:
  RowMatcher() = default;

  bool isExpression_ = false;
  bpf_program program_{};
  std::vector<std::string> needles_;
};

}  // namespace orvanel
