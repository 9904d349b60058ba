#include "tests/support/veth_to_peer.h"

#include "tests/support/test_traffic.h"

namespace orvanel::test {

VethToPeer::VethToPeer(const std::string& name, const std::string& subnet)
    : here(name + "0"), there(name + "1"), local(subnet + ".1"), remote(subnet + ".2"), link_(here) {
  ok = Make();
}

bool VethToPeer::Recreate() { return ok = Make(); }

bool VethToPeer::Make() const {
  return peer.Valid() &&
         RunCommand("ip link add " + here + " type veth peer name " + there + " netns " + peer.Path()) &&
         RunCommand("ip addr add " + local + "/24 dev " + here + " && ip link set " + here + " up") &&
         peer.Command("ip addr add " + remote + "/24 dev " + there) && peer.Command("ip link set " + there + " up");
}

bool VethToPeer::SendFromPeer(const std::string& from, const std::string& to, std::uint16_t port, int count) const {
  bool sent = true;
  peer.Run([&] {
    const UdpEndpoint client = BindUdp(from);
    for (int i = 0; i < count; ++i) sent = SendUdp(client, to, port, "from peer " + std::to_string(i)) && sent;
  });
  return sent;
}

}  // namespace orvanel::test
