// The processes that hold sockets, found through /proc/PID/fd.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "capture/conversation_program.h"

namespace orvanel {

// For each socket inode asked for that a visible process holds: its comm
// and PID (the lowest PID when several share it). Processes this one may
// not look into are passed over.
std::unordered_map<std::uint64_t, ConversationProgram> SocketHolders(const std::unordered_set<std::uint64_t>& inodes);

// "用户 NAME" for the user, or "用户 UID" when the name is unknown.
std::string UserText(std::uint32_t uid);

}  // namespace orvanel
