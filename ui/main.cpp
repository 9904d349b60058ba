#include <QFile>
#include <QStringList>
#include <csignal>
#include <cstdio>

#include "res/strings.h"
#include "ui/capture_app.h"
#include "ui/command_line.h"
#include "ui/desktop_session.h"

int main(int argc, char** argv) {
  const orvanel::CommandLine line = orvanel::ParseCommandLine(argc, argv);
  switch (line.action) {
    case orvanel::CommandLine::Action::Help:
      std::fwrite(orvanel::DialogUsageText().data(), 1, orvanel::DialogUsageText().size(), stdout);
      return 0;
    case orvanel::CommandLine::Action::Version:
      std::printf("orvanel %.*s\n", static_cast<int>(orvanel::res::Version().dottedVersion.size()),
                  orvanel::res::Version().dottedVersion.data());
      return 0;
    case orvanel::CommandLine::Action::Error:
      std::fprintf(stderr, "orvanel: %s (see --help)\n", line.error.c_str());
      return 2;
    case orvanel::CommandLine::Action::Run: break;
  }
  // Past the file size limit a write fails with EFBIG, which the dialog
  // shows; the signal would end it, capture and list and all.
  std::signal(SIGXFSZ, SIG_IGN);
  if (!orvanel::PrepareDesktopSession(argc, argv)) return 1;
  orvanel::CCaptureApp app(argc, argv);
  orvanel::DesktopSessionOpened();
  QStringList files;
  for (const std::string& file : line.files) files.append(QFile::decodeName(file.c_str()));
  return app.InitInstance(files);
}
