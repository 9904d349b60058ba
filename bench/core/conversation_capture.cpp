// Writes a pcap file (raw IPv4) of COUNT TCP and UDP datagrams with 64-byte
// payloads, spread over CONVERSATIONS conversations in both directions, a
// microsecond apart: the file the conversation benchmark reads.
//   orvanel_conversation_capture COUNT CONVERSATIONS FILE
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t kLinkTypeRaw = 101;
constexpr std::size_t kPayload = 64;

struct Endpoints {
  std::uint8_t protocol;
  std::uint32_t a, b;  // host order
  std::uint16_t portA, portB;
};

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}
void Put32(std::uint8_t* at, std::uint32_t value) {
  Put16(at, static_cast<std::uint16_t>(value >> 16));
  Put16(at + 2, static_cast<std::uint16_t>(value));
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc == 4 ? std::atol(argv[1]) : 0;
  const long conversations = argc == 4 ? std::atol(argv[2]) : 0;
  if (count < 1 || conversations < 1 || count > 100'000'000 || conversations > 10'000'000) {
    std::fprintf(stderr, "usage: orvanel_conversation_capture COUNT CONVERSATIONS FILE\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[3], "wb");
  if (!file) {
    std::perror("orvanel_conversation_capture");
    return 1;
  }
  std::mt19937 random(26);
  std::vector<Endpoints> all(static_cast<std::size_t>(conversations));
  const auto random16 = [&random] { return static_cast<std::uint32_t>(random() & 0xFFFF); };
  for (Endpoints& e : all) {
    e = {random() % 2 ? std::uint8_t{6} : std::uint8_t{17}, 0x0A000000u | random16(), 0xC0A80000u | random16(),
         static_cast<std::uint16_t>(1024 + random() % 60000), static_cast<std::uint16_t>(random() % 2 ? 443 : 53)};
  }
  const std::uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, kLinkTypeRaw};
  bool written = std::fwrite(header, sizeof header, 1, file) == 1;
  std::uint8_t record[16 + 20 + 20 + kPayload] = {};
  for (long i = 0; i < count && written; ++i) {
    const Endpoints& e = all[random() % all.size()];
    const bool back = random() % 3 == 0;
    const std::size_t transport = e.protocol == 6 ? 20 : 8;
    const auto length = static_cast<std::uint32_t>(20 + transport + kPayload);
    const std::uint32_t seconds = 1'700'000'000 + static_cast<std::uint32_t>(i / 1'000'000);
    const std::uint32_t micros = static_cast<std::uint32_t>(i % 1'000'000);
    std::memcpy(record, &seconds, 4);
    std::memcpy(record + 4, &micros, 4);
    std::memcpy(record + 8, &length, 4);
    std::memcpy(record + 12, &length, 4);
    std::uint8_t* ip = record + 16;
    std::memset(ip, 0, 40);
    ip[0] = 0x45;
    Put16(ip + 2, static_cast<std::uint16_t>(length));
    ip[8] = 64;
    ip[9] = e.protocol;
    Put32(ip + 12, back ? e.b : e.a);
    Put32(ip + 16, back ? e.a : e.b);
    Put16(ip + 20, back ? e.portB : e.portA);
    Put16(ip + 22, back ? e.portA : e.portB);
    if (e.protocol == 6)
      ip[32] = 0x50;
    else
      Put16(ip + 24, static_cast<std::uint16_t>(8 + kPayload));
    std::memset(ip + 20 + transport, 'x', kPayload);
    written = std::fwrite(record, 16 + length, 1, file) == 1;
  }
  if (std::fclose(file) != 0 || !written) {
    std::perror("orvanel_conversation_capture");
    return 1;
  }
  return 0;
}
