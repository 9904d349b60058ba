// How starting a capture ended: the first step that failed, or Started.
#pragma once

#include <string>
#include <string_view>

namespace orvanel {

// How many captures one user may run through the socket helper at once:
// each pins a 64 MiB ring of kernel memory.
inline constexpr int kCapturesPerUser = 4;

// Every failure names the step that failed, in the order the steps run. The
// dialog turns each into its message.
enum class StartResult {
  Started,
  SocketCreationFailed,  // no socket (usually: no right to capture)
  AddressListFailed,     // the local address list could not be read
  AddressListEmpty,      // the machine has no usable IPv4 address
  NoAddressChosen,       // nothing chosen, or the chosen address is not local
  BindFailed,
  ReceiveModeFailed,  // promiscuous mode, the IPv4 filter or the receive ring, its mapping included
  TooManyCaptures,    // the user already runs kCapturesPerUser captures through the socket helper
};

// The step a start ended at and, when a system call failed there, its errno.
struct [[nodiscard]] StartOutcome {
  StartResult result = StartResult::Started;
  int error = 0;  // 0: no call failed (an empty list, an address not local) or the cause is unknown

  friend bool operator==(const StartOutcome& outcome, StartResult result) { return outcome.result == result; }
};

// What a result means, in plain English, for a command line or a log.
std::string_view StartResultMeaning(StartResult result);

// The step's meaning and, when known, why its call failed ("...: Permission denied").
std::string StartOutcomeText(const StartOutcome& outcome);

}  // namespace orvanel
