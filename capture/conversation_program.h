// The local program behind a conversation, as the platform layer found it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "capture/conversation.h"

namespace orvanel {

struct ConversationProgram {
  std::string name;  // the process's comm, or "用户 NAME" when the process cannot be seen
  int pid = 0;       // 0: only the socket's owner is known

  bool operator==(const ConversationProgram&) const = default;
};

// "curl (4711)", or the user text alone.
inline std::string ProgramText(const ConversationProgram& program) {
  return program.pid == 0 ? program.name : program.name + " (" + std::to_string(program.pid) + ")";
}

// The program of a conversation where one is known; empty where none is
// looked up (e.g. capture files).
using ProgramFinder = std::function<std::optional<ConversationProgram>(ConversationId)>;

}  // namespace orvanel
