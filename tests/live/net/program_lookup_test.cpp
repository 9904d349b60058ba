// The program behind a conversation: sockets of this process and of a child
// on loopback, in the test's own network namespace.
#include "session/program_attribution.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "capture/unique_fd.h"
#include "net/program_lookup.h"
#include "net/socket_owners.h"
#include "tests/support/recording_table.h"
#include "tests/support/scripted_loop.h"

namespace orvanel {
namespace {

constexpr std::uint16_t kPort = 40123;

std::uint32_t Address(const char* text) {
  in_addr address{};
  inet_pton(AF_INET, text, &address);
  return address.s_addr;
}

UniqueFd BoundUdp(std::uint16_t port) {
  UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = Address("127.0.0.1");
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fd.reset();
  return fd;
}

std::string OwnComm() {
  std::string comm;
  std::getline(std::ifstream("/proc/self/comm"), comm);
  return comm;
}

// Counts datagrams into the table, one a second of capture time from startNs.
void Feed(ConversationTable& table, const std::vector<test::Datagram>& datagrams, std::int64_t startNs) {
  std::vector<test::ScriptedSource::Step> steps;
  for (const test::Datagram& datagram : datagrams) {
    steps.push_back(test::PacketStep(datagram));
    steps.back().captureTimeNs = startNs + static_cast<std::int64_t>(steps.size()) * 1'000'000'000;
  }
  test::ScriptedSource source(steps);
  test::ScriptedOptions options([](CaptureOption, int) { return 0; });
  test::RecordingTable rows;
  PacketCounters counters;
  const std::atomic<bool> capturing{true};
  CaptureThreadProc({capturing, source, counters, options, rows, "", "", nullptr, &table});
}

ConversationId OnlyConversation(const ConversationTable& table) {
  ConversationId only{};
  table.ForEach([&only](ConversationId id, const Conversation&) { only = id; });
  return only;
}

const test::Datagram kToPeer{
    .source = "127.0.0.1", .destination = "127.0.0.1", .sourcePort = kPort, .destinationPort = 9};

TEST(ProgramAttribution, ASocketOfThisProcessIsAttributedToIt) {
  const UniqueFd own = BoundUdp(kPort);
  ASSERT_TRUE(own.valid());
  ConversationTable table;
  Feed(table, {kToPeer}, 0);
  ProgramAttribution programs(table);
  programs.Watch({Address("127.0.0.1")}, 0);
  EXPECT_FALSE(programs.ProgramOf(OnlyConversation(table)));  // not looked up yet
  programs.Pass();
  const auto program = programs.ProgramOf(OnlyConversation(table));
  ASSERT_TRUE(program);
  EXPECT_EQ(*program, (ConversationProgram{OwnComm(), getpid()}));
  EXPECT_EQ(ProgramText(*program), OwnComm() + " (" + std::to_string(getpid()) + ")");
  EXPECT_EQ(UserText(0), "用户 root");

  // A socket the snapshot holds leads to its own inode, which /proc finds here.
  const std::uint8_t udp = 17;
  const auto sockets = SocketSnapshot::Take({&udp, 1});
  ASSERT_TRUE(sockets);
  const auto owner = sockets->Owner({17, Address("127.0.0.1"), kPort, Address("127.0.0.1"), 9});
  ASSERT_TRUE(owner);
  EXPECT_TRUE(sockets->Holds(owner->inode));
  EXPECT_EQ(ProgramsOf({*owner}).at(owner->inode).pid, getpid());
}

TEST(ProgramAttribution, APortReusedByAnotherProcessIsNotTheOldOnes) {
  auto own = BoundUdp(kPort);
  ASSERT_TRUE(own.valid());
  ConversationTable table;
  Feed(table, {kToPeer}, 0);
  ProgramAttribution programs(table);
  programs.Watch({Address("127.0.0.1")}, 0);
  programs.Pass();
  ASSERT_EQ(programs.ProgramOf(OnlyConversation(table))->pid, getpid());

  own.reset();
  int ready[2];
  int done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(done[1]);  // so that the parent's close ends the read
    prctl(PR_SET_NAME, "reuser");
    const UniqueFd reused = BoundUdp(kPort);
    const char state = reused.valid() ? 'y' : 'n';
    char ignored;
    if (write(ready[1], &state, 1) != 1 || read(done[0], &ignored, 1) < 0) _exit(1);
    _exit(0);
  }
  close(ready[1]);
  char state = 0;
  ASSERT_EQ(read(ready[0], &state, 1), 1);
  ASSERT_EQ(state, 'y');

  Feed(table, {kToPeer}, 10'000'000'000);  // the same endpoints, now the child's
  programs.Pass();
  const auto program = programs.ProgramOf(OnlyConversation(table));
  EXPECT_EQ(program, (ConversationProgram{"reuser", child}));
  close(done[1]);
  waitpid(child, nullptr, 0);
  for (const int fd : {ready[0], done[0]}) close(fd);
}

TEST(ProgramAttribution, AConversationNotOfThisMachineShowsNoProgram) {
  const UniqueFd own = BoundUdp(kPort);  // its port matches, its address does not
  ASSERT_TRUE(own.valid());
  ConversationTable table;
  Feed(table, {{.source = "10.9.0.1", .destination = "10.9.0.2", .sourcePort = kPort, .destinationPort = 9}}, 0);
  ProgramAttribution programs(table);
  programs.Watch({Address("127.0.0.1")}, 0);
  programs.Pass();
  EXPECT_FALSE(programs.ProgramOf(OnlyConversation(table)));
}

}  // namespace
}  // namespace orvanel
