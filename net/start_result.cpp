#include "net/start_result.h"

#include <cstring>

namespace orvanel {

std::string_view StartResultMeaning(StartResult result) {
  switch (result) {
    case StartResult::Started: return "capture started";
    case StartResult::SocketCreationFailed:
      return "cannot create the capture socket (run as root, or add yourself to the group orvanel, then log in "
             "again; see README)";
    case StartResult::AddressListFailed: return "cannot read the local network addresses";
    case StartResult::AddressListEmpty: return "no usable network connection: no interface with an IPv4 address is up";
    case StartResult::NoAddressChosen: return "choose one of this machine's IPv4 addresses";
    case StartResult::BindFailed: return "cannot bind to the network interface of the address";
    case StartResult::ReceiveModeFailed: return "cannot set up receiving all packets on the interface";
    case StartResult::TooManyCaptures:
      return "4 captures of this user already run through the socket helper, the most at once; stop one first";
  }
  return "unknown start result";
}

std::string StartOutcomeText(const StartOutcome& outcome) {
  std::string text(StartResultMeaning(outcome.result));
  if (outcome.result != StartResult::Started && outcome.error != 0) {
    text += ": ";
    text += std::strerror(outcome.error);
  }
  return text;
}

}  // namespace orvanel
