// Opening the capture socket: every step that needs the right to capture.
// For a caller without the right, the orvanel-socket helper runs this alone
// and passes the socket on (net/socket_helper.h); the ring is then mapped on
// the received socket (PacketRing::Map).
#pragma once

#include <string>

#include "capture/unique_fd.h"
#include "net/start_result.h"

namespace orvanel {

struct [[nodiscard]] CaptureSocket {
  StartResult result;
  UniqueFd socket;  // open only when result is Started
  int error = 0;    // errno of the step's failed call; 0 when none failed

  StartOutcome Outcome() const { return {result, error}; }
};

// In order: create the socket, list the local addresses, check the list is
// not empty, find chosenAddress in it (exact text), bind to its interface and
// switch to receiving everything: promiscuous, IPv4 only cut to the receive
// buffer size, outgoing copies dropped on loopback, and a receive ring.
CaptureSocket OpenCaptureSocket(const std::string& chosenAddress);

}  // namespace orvanel
