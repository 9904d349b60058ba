// The capture-filter expression, in the syntax of tcpdump and libpcap, that
// takes the packets of one conversation: the way from a conversation to its
// rows in the list.
#pragma once

#include <string>

#include "capture/conversation.h"

namespace orvanel {

// Both directions and nothing else: the ports are tied to their addresses,
// so A:1000 to B:80 is not taken for A:80 to B:1000. A conversation without
// ports of TCP or UDP takes the datagrams without them (later fragments and
// those too short for ports). Later fragments counted in a conversation with
// ports have no ports to match, so they are not taken.
std::string ConversationExpression(const ConversationKey& key);

}  // namespace orvanel
