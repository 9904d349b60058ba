#include "storage/last_packet.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "capture/capture_loop.h"
#include "tests/support/recording_table.h"
#include "tests/support/scripted_loop.h"
#include "tests/support/test_files.h"

namespace orvanel {
namespace {

namespace fs = std::filesystem;
using test::Datagram;
using test::FileContents;
using test::PacketStep;
using test::RecordingTable;
using test::ScratchDirectory;
using test::ScriptedOptions;
using test::ScriptedSource;
using enum CaptureOption;

std::string AsText(const std::vector<std::uint8_t>& bytes, std::size_t length) {
  return {reinterpret_cast<const char*>(bytes.data()), std::min(length, bytes.size())};
}

// With listing on, lists every TCP, UDP and ICMP packet of the Other group
// (filters that match nothing); the save box has the given state.
struct SavingRun {
  PacketCounters counters;
  RecordingTable table;

  SavingRun(const std::string& directory, std::vector<ScriptedSource::Step> steps, int saveState = kChecked,
            bool listing = true, SaveFailures* failures = nullptr) {
    ScriptedSource source(std::move(steps));
    const ScriptedOptions options([saveState, listing](CaptureOption option, int) {
      if (option == SaveLast) return saveState;
      const bool other = option == OtherEnable || option == OtherTCP || option == OtherUDP || option == OtherICMP;
      return listing && other ? kChecked : kUnchecked;
    });
    LastPacketFiles files(directory, failures);
    const std::atomic<bool> capturing{true};
    CaptureThreadProc({capturing, source, counters, options, table, "no", "no", &files});
  }
};

TEST(LastPacketFiles, HoldTheTotalLengthsBytesOfTheLastListedPacket) {
  const ScratchDirectory directory;
  const Datagram sixty{.protocol = kProtocolUDP, .payload = std::string(32, 'u')};
  const Datagram empty{.protocol = kProtocolICMP, .payload = "icmp", .totalLengthField = 0};
  const Datagram first{.protocol = kProtocolTCP, .payload = "first"};
  const Datagram oversize{.protocol = kProtocolTCP, .payload = std::string(3000, 'b')};
  const Datagram claimsMore{.protocol = kProtocolTCP, .payload = "x", .totalLengthField = 100};
  SavingRun run(directory.path(), {PacketStep(sixty), PacketStep(empty), PacketStep(first), PacketStep(oversize)});
  EXPECT_EQ(run.table.Rows().size(), 4u);
  const std::string udp = FileContents(directory.path() / "buf_UDP.txt");
  EXPECT_EQ(udp.size(), 60u);
  EXPECT_EQ(udp[0], '\x45');
  EXPECT_EQ(udp, AsText(sixty.Bytes(), 60));
  EXPECT_TRUE(fs::exists(directory.path() / "buf_ICMP.txt"));
  EXPECT_EQ(fs::file_size(directory.path() / "buf_ICMP.txt"), 0u);
  // Two TCP packets: only the second stays, cut to the buffer.
  EXPECT_EQ(FileContents(directory.path() / "buf_TCP.txt"), AsText(oversize.Bytes(), kReceiveBufferSize));
  // A header that claims more than arrived: the rest is the zeroed buffer.
  SavingRun again(directory.path(), {PacketStep(claimsMore)});
  std::string expected = AsText(claimsMore.Bytes(), 100);
  expected.resize(100, '\0');
  EXPECT_EQ(FileContents(directory.path() / "buf_TCP.txt"), expected);
}

TEST(LastPacketFiles, OnlyAnExactlyCheckedBoxSavesAndOnlyListedPacketsAreWritten) {
  const ScratchDirectory directory;
  const Datagram tcp{.protocol = kProtocolTCP, .payload = "new"};
  const Datagram other{.protocol = 47, .payload = "gre"};
  for (int state : {kUnchecked, 2, 3}) {
    SavingRun run(directory.path(), {PacketStep(tcp), PacketStep(other)}, state);
    EXPECT_EQ(run.table.Rows().size(), 1u);
  }
  EXPECT_TRUE(fs::is_empty(directory.path()));
  // An existing file is left alone while the box is off.
  std::ofstream(directory.path() / "buf_TCP.txt") << "old";
  const auto written = fs::last_write_time(directory.path() / "buf_TCP.txt");
  SavingRun off(directory.path(), {PacketStep(tcp)}, kUnchecked);
  EXPECT_EQ(FileContents(directory.path() / "buf_TCP.txt"), "old");
  EXPECT_EQ(fs::last_write_time(directory.path() / "buf_TCP.txt"), written);
  // Counted but not listed: never written, whatever the save box says.
  SavingRun unlisted(directory.path(), {PacketStep(tcp), PacketStep(other)}, kChecked, false);
  SavingRun onlyOther(directory.path(), {PacketStep(other)});
  EXPECT_EQ(unlisted.counters.Count(TrafficGroup::All, ProtocolClass::TCP), 1);
  EXPECT_EQ(onlyOther.counters.Count(TrafficGroup::All, ProtocolClass::OTHER), 1);
  EXPECT_TRUE(unlisted.table.Rows().empty() && onlyOther.table.Rows().empty());
  EXPECT_EQ(FileContents(directory.path() / "buf_TCP.txt"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);
}

TEST(LastPacketFiles, PlantedLinksFifosAndDirectoriesAreNotWritten) {
  const ScratchDirectory directory;
  const fs::path target = directory.path() / "target";
  std::ofstream(target) << "precious";
  fs::create_symlink(target, directory.path() / "buf_TCP.txt");
  ASSERT_EQ(mkfifo((directory.path() / "buf_UDP.txt").c_str(), 0644), 0);
  fs::create_directory(directory.path() / "buf_ICMP.txt");
  const Datagram tcp{.protocol = kProtocolTCP, .payload = "evil"};
  const Datagram udp{.protocol = kProtocolUDP, .payload = "blocked?"};
  const Datagram icmp{.protocol = kProtocolICMP};
  SaveFailures failures;
  SavingRun run(directory.path(), {PacketStep(tcp), PacketStep(udp), PacketStep(icmp), PacketStep(tcp)}, kChecked, true,
                &failures);
  EXPECT_EQ(run.table.Rows().size(), 4u);  // the loop went on past every failed save
  EXPECT_EQ(failures.Packets(), 4u);
  EXPECT_EQ(failures.First()->error, ELOOP);
  EXPECT_STREQ(failures.First()->file, "buf_TCP.txt");
  EXPECT_EQ(FileContents(target), "precious");
  EXPECT_TRUE(fs::is_symlink(directory.path() / "buf_TCP.txt"));
  EXPECT_TRUE(fs::is_fifo(directory.path() / "buf_UDP.txt"));
  // A FIFO with a reader opens, but is still not a regular file to write to.
  const int reader = open((directory.path() / "buf_UDP.txt").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  SavingRun withReader(directory.path(), {PacketStep(udp)});
  char byte;
  EXPECT_EQ(read(reader, &byte, 1), 0);  // nothing written, writer gone
  close(reader);
}

TEST(LastPacketFiles, AMissingOrUnwritableDirectoryIsSkippedAndTheLoopGoesOn) {
  const ScratchDirectory directory;
  const Datagram tcp{.protocol = kProtocolTCP, .payload = "x"};
  SaveFailures failures;
  SavingRun missing((directory.path() / "gone").string(), {PacketStep(tcp), PacketStep(tcp)}, kChecked, true,
                    &failures);
  EXPECT_EQ(missing.table.Rows().size(), 2u);
  EXPECT_FALSE(fs::exists(directory.path() / "gone"));
  EXPECT_EQ(failures.Packets(), 2u);
  EXPECT_EQ(failures.First()->error, ENOENT);
  // A symbolic link anywhere on the path is not followed.
  fs::create_directories(directory.path() / "real" / "sub");
  fs::create_directory_symlink(directory.path() / "real", directory.path() / "link");
  for (const fs::path& linked : {directory.path() / "link", directory.path() / "link" / "sub"}) {
    const int error = DumpDirectoryError(linked.string());
    EXPECT_TRUE(error == ELOOP || error == ENOTDIR) << linked << ": " << error;  // ENOTDIR without openat2
    SaveFailures throughLink;
    SavingRun run(linked.string(), {PacketStep(tcp)}, kChecked, true, &throughLink);
    EXPECT_EQ(throughLink.Packets(), 1u) << linked;
  }
  EXPECT_EQ(DumpDirectoryError((directory.path() / "real" / "sub").string()), 0);
  EXPECT_TRUE(fs::is_empty(directory.path() / "real" / "sub"));
  fs::remove_all(directory.path() / "real");
  fs::remove(directory.path() / "link");
  SavingRun empty("", {PacketStep(tcp)});
  EXPECT_EQ(empty.table.Rows().size(), 1u);
  // A NUL would cut the path short, to the parent here.
  SavingRun cut(directory.path().string() + std::string("\0/sub", 5), {PacketStep(tcp)});
  EXPECT_EQ(cut.table.Rows().size(), 1u);
  EXPECT_TRUE(fs::is_empty(directory.path()));

  const fs::path readOnly = directory.path() / "read-only";
  fs::create_directory(readOnly);
  fs::permissions(readOnly,
                  fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);
  // Permission bits do not bind root: check from a child that is not root.
  fs::permissions(directory.path(), fs::perms::others_exec, fs::perm_options::add);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    SaveFailures refused;
    SavingRun run(readOnly.string(), {PacketStep(tcp), PacketStep(tcp)}, kChecked, true, &refused);
    _exit(run.table.Rows().size() == 2 && access((readOnly / "buf_TCP.txt").c_str(), F_OK) != 0 &&
                  refused.Packets() == 2 && refused.First()->error == EACCES
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(fs::exists(readOnly / "buf_TCP.txt"));
}

TEST(LastPacketFiles, ADirectoryPathLongerThanTheSystemLimitWorks) {
  const ScratchDirectory directory;
  // 30 levels of 200-character names: about 6000 characters, over PATH_MAX.
  const std::string name(200, 'd');
  std::vector<int> levels{open(directory.path().c_str(), O_PATH | O_DIRECTORY)};
  std::string longPath = directory.path().string();
  for (int i = 0; i < 30; ++i) {
    ASSERT_EQ(mkdirat(levels.back(), name.c_str(), 0755), 0);
    levels.push_back(openat(levels.back(), name.c_str(), O_PATH | O_DIRECTORY));
    ASSERT_GE(levels.back(), 0);
    longPath += "//" + name;  // doubled separators are accepted too
  }
  ASSERT_GT(longPath.size(), std::size_t{PATH_MAX});
  const Datagram udp{.protocol = kProtocolUDP, .payload = "deep"};
  SavingRun run(longPath + "/", {PacketStep(udp)});
  const int file = openat(levels.back(), "buf_UDP.txt", O_RDONLY);
  ASSERT_GE(file, 0);
  char bytes[64];
  const ssize_t length = read(file, bytes, sizeof bytes);
  close(file);
  EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(std::max<ssize_t>(length, 0))), AsText(udp.Bytes(), 64));
  // Take the tree down from the bottom; remove_all would need the long paths.
  unlinkat(levels.back(), "buf_UDP.txt", 0);
  for (std::size_t i = levels.size() - 1; i > 0; --i) {
    close(levels[i]);
    unlinkat(levels[i - 1], name.c_str(), AT_REMOVEDIR);
  }
  close(levels[0]);
}

}  // namespace
}  // namespace orvanel
