// A capture file of any bytes through orvanel-cli's reading: the file source,
// the whole loop with every box ticked, the last-packet files and the
// printed rows. The bytes are read twice, as two files in a row.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "capture/capture_loop.h"
#include "capture/packet_row.h"
#include "session/pcap_file_source.h"
#include "storage/last_packet.h"
#include "tools/row_printer.h"

namespace {

using namespace orvanel;
namespace fs = std::filesystem;

// Counts the datagrams the file source hands out.
class CountingSource final : public PacketSource {
 public:
  explicit CountingSource(PacketSource& source) : source_(source) {}
  ReceiveResult Receive(ReceiveBuffer& buffer) override {
    const ReceiveResult result = source_.Receive(buffer);
    if (result.length > buffer.size()) std::abort();
    if (result.status == ReceiveStatus::Packet) ++packets;
    return result;
  }
  int packets = 0;

 private:
  PacketSource& source_;
};

// Counts the rows on their way to the printer.
class CountingTable final : public PacketTable {
 public:
  explicit CountingTable(PacketTable& table) : table_(table) {}
  void AddRow(const ListedRow& row) override {
    ++rows;
    table_.AddRow(row);
  }
  std::size_t rows = 0;

 private:
  PacketTable& table_;
};

// The last-packet files go to a directory of this process, removed at exit.
class DumpDirectory {
 public:
  DumpDirectory() : path_((fs::temp_directory_path() / "orvanel-fuzz-XXXXXX").string()) {
    if (!mkdtemp(path_.data())) std::abort();
  }
  ~DumpDirectory() { fs::remove_all(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Every row is one line of seven printable, tab-separated columns.
void CheckPrintedRows(std::string_view printed, std::size_t rows) {
  std::size_t lines = 0;
  while (!printed.empty()) {
    const std::size_t end = printed.find('\n');
    if (end == std::string_view::npos) std::abort();
    const std::string_view line = printed.substr(0, end);
    if (std::ranges::count(line, '\t') != kPacketColumnCount - 1) std::abort();
    if (std::ranges::any_of(line, [](char c) { return c != '\t' && (c < 0x20 || c > 0x7e); })) std::abort();
    printed.remove_prefix(end + 1);
    ++lines;
  }
  if (lines != rows) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = memfd_create("capture", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);  // each open reads from the start

  PcapFileSource files({path, path});
  if (!files.Failure()) {
    CountingSource source(files);
    AtomicCaptureOptions boxes;
    for (int option = 0; option < kCaptureOptionCount; ++option) {
      boxes.Set(static_cast<CaptureOption>(option), kChecked);
    }
    static const DumpDirectory dumpDirectory;
    LastPacketFiles lastPacketFiles(dumpDirectory.Path());
    PacketCounters counters;
    char* printed = nullptr;
    std::size_t printedSize = 0;
    std::FILE* out = open_memstream(&printed, &printedSize);
    if (!out) std::abort();
    cli::RowPrinter printer(out, cli::OutputFormat::Tsv);
    CountingTable table(printer);
    const std::atomic<bool> capturing{true};
    CaptureThreadProc({capturing, source, counters, boxes, table, "", "", &lastPacketFiles});
    std::fflush(out);
    CheckPrintedRows({printed, printedSize}, table.rows);
    std::fclose(out);
    std::free(printed);

    int total = 0;
    for (int protocol = 0; protocol < kProtocolClassCount; ++protocol) {
      total += counters.Count(TrafficGroup::All, static_cast<ProtocolClass>(protocol));
    }
    if (total != source.packets || counters.ReceiveErrors() != 0 || printer.RowsListed() != table.rows) std::abort();
  }
  close(fd);
  return 0;
}
