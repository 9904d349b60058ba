// A veth pair: <name>0 here with <subnet>.1, <name>1 in a peer namespace with
// <subnet>.2, both up. The link goes with this object.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/test_network.h"

namespace orvanel::test {

class VethToPeer {
 public:
  VethToPeer(const std::string& name, const std::string& subnet);

  // count UDP datagrams "from peer <i>" from the peer's address from to to:port.
  [[nodiscard]] bool SendFromPeer(const std::string& from, const std::string& to, std::uint16_t port, int count) const;

  // Makes the pair again, as it was, after it was deleted: new interfaces, new indexes.
  bool Recreate();

  const std::string here, there, local, remote;
  PeerNetwork peer;
  bool ok = false;  // made and up on both sides

 private:
  [[nodiscard]] bool Make() const;

  ScopedLink link_;
};

}  // namespace orvanel::test
