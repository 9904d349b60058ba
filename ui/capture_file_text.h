// What the dialog says about capture files: the open dialog's filter and a
// file that cannot be read, in the dialog's language.
#pragma once

#include <QString>

#include "session/pcap_file_source.h"

namespace orvanel {

QString CaptureFileFilter();

// Names the file and says why, as orvanel-cli does in English.
QString CaptureFileMessage(const CaptureFileError& error);

}  // namespace orvanel
