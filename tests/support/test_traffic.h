// Known traffic for the capture tests: UDP datagrams, a short TCP exchange,
// ICMP echoes and raw Ethernet frames, each made by the calling thread in its
// own network namespace.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/unique_fd.h"

namespace orvanel::test {

struct UdpEndpoint {
  UniqueFd socket;
  std::uint16_t port = 0;
};

// A UDP socket bound to address and a free port.
UdpEndpoint BindUdp(const std::string& address);
bool SendUdp(const UdpEndpoint& from, const std::string& to, std::uint16_t port, std::string_view payload);

struct TcpExchange {
  std::uint16_t serverPort = 0;
  std::uint16_t clientPort = 0;
  bool ok = false;
};

// Connects to a listener on address, writes each message as its own segment,
// has the server answer with reply, and closes both ends.
TcpExchange ExchangeTcp(const std::string& address, const std::vector<std::string>& messages, const std::string& reply);

// Sends count ICMP echo requests through a raw socket.
bool SendEchoes(const std::string& to, int count);

// Sends an Ethernet frame carrying an IPv4 UDP datagram with the given
// addresses to a MAC address that no interface holds; linkPadding follows the
// datagram in the frame, outside its total length.
bool SendFrameToStranger(const std::string& interface, const std::string& source, const std::string& destination,
                         std::string_view payload, std::string_view linkPadding = {});

}  // namespace orvanel::test
