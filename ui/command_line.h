// The dialog's command line, read before Qt starts: its own options, Qt's
// (left for Qt), and the capture files to open.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvanel {

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  std::vector<std::string> files;  // Run: capture files to open, in order
  std::string error;               // Error: what was wrong
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

std::string_view DialogUsageText();

}  // namespace orvanel
