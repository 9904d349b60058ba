#include "ui/command_line.h"

#include <algorithm>
#include <iterator>

namespace orvanel {
namespace {

// Qt's own options, which QApplication takes out of the arguments itself.
constexpr std::string_view kQtValueOptions[] = {"-platform",      "-platformpluginpath",
                                                "-platformtheme", "-plugin",
                                                "-qmljsdebugger", "-qwindowgeometry",
                                                "-qwindowicon",   "-qwindowtitle",
                                                "-session",       "-display",
                                                "-geometry",      "-title",
                                                "-name",          "-icon",
                                                "-visual",        "-style",
                                                "-stylesheet"};
constexpr std::string_view kQtFlags[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};

template <std::size_t N>
bool Contains(const std::string_view (&names)[N], std::string_view name) {
  return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  bool optionsEnded = false;
  for (int index = 1; index < argc; ++index) {
    const std::string_view argument = argv[index];
    if (optionsEnded || !argument.starts_with('-') || argument == "-") {
      line.files.emplace_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "-h" || argument == "--help") {
      line.action = CommandLine::Action::Help;
    } else if (argument == "--version") {
      if (line.action != CommandLine::Action::Help) line.action = CommandLine::Action::Version;
    } else {
      // Qt takes "-option" and "--option", with its value next or after '='.
      std::string_view name = argument.starts_with("--") ? argument.substr(1) : argument;
      const bool valueAttached = name.find('=') != std::string_view::npos;
      name = name.substr(0, name.find('='));
      if (Contains(kQtValueOptions, name)) {
        if (!valueAttached && ++index == argc) {
          return {CommandLine::Action::Error, {}, std::string(argument) + " needs an argument"};
        }
      } else if (!Contains(kQtFlags, name) || valueAttached) {
        return {CommandLine::Action::Error, {}, "unknown option '" + std::string(argument) + "'"};
      }
    }
  }
  return line;
}

std::string_view DialogUsageText() {
  return R"(Usage: orvanel [FILE]...
  or:  orvanel --help | --version
Watches the IPv4 traffic of one of this machine's addresses in a dialog:
counts every packet by protocol in four groups and lists the chosen ones.
Each FILE, a pcap or pcapng capture, is opened as the dialog's menu entry
"打开捕获文件" opens it: the files are read in order as one stream through
the same loop, with the dialog's filters and boxes.

  -h, --help   show this text
  --version    show the version
  --           every argument after it is a FILE

Qt's own options (-platform, -style, ...) are taken as Qt documents them.
The dialog needs a desktop session (DISPLAY or WAYLAND_DISPLAY); without one
it says so and ends with status 1. Without a desktop, use orvanel-cli.

Exit status: 0, also after --help and --version; 1 without a desktop
session; 2 for an unknown option.
)";
}

}  // namespace orvanel
