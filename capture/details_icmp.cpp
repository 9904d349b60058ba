// The ICMP message and the Chinese names of its types and codes.
#include "capture/details_protocols.h"

namespace orvanel {
namespace {

const char* KnownIcmpType(std::uint8_t type) {
  switch (type) {
    case 0: return "回显应答";
    case 3: return "目标不可达";
    case 4: return "源点抑制";
    case 5: return "重定向";
    case 8: return "回显请求";
    case 9: return "路由器通告";
    case 10: return "路由器询问";
    case 11: return "超时";
    case 12: return "参数问题";
    case 13: return "时间戳请求";
    case 14: return "时间戳应答";
    case 15: return "信息请求";
    case 16: return "信息应答";
    case 17: return "地址掩码请求";
    case 18: return "地址掩码应答";
    default: return nullptr;
  }
}

}  // namespace

std::string IcmpTypeName(std::uint8_t type) {
  const char* name = KnownIcmpType(type);
  return name ? name : "未知类型";
}

std::string IcmpCodeName(std::uint8_t type, std::uint8_t code) {
  static constexpr const char* kUnreachable[] = {
      "网络不可达",       "主机不可达",       "协议不可达",         "端口不可达",
      "需要分片但设置了不分片", "源路由失败", "目的网络未知",       "目的主机未知",
      "源主机被隔离",     "目的网络被禁止",   "目的主机被禁止",     "对此服务类型网络不可达",
      "对此服务类型主机不可达", "通信被管理禁止", "违反主机优先级",   "优先级被截止",
  };
  static constexpr const char* kRedirect[] = {"对网络重定向", "对主机重定向", "对服务类型和网络重定向",
                                              "对服务类型和主机重定向"};
  static constexpr const char* kTimeExceeded[] = {"传输中生存时间为 0", "分片重组超时"};
  static constexpr const char* kParameterProblem[] = {"指针指示错误", "缺少必需的选项", "长度错误"};
  const auto named = [code](std::span<const char* const> names) -> std::string {
    return code < names.size() ? names[code] : "未知代码";
  };
  switch (type) {
    case 3: return named(kUnreachable);
    case 5: return named(kRedirect);
    case 11: return named(kTimeExceeded);
    case 12: return named(kParameterProblem);
    case 9: return code == 0 ? "普通路由器通告" : code == 16 ? "不转发普通流量" : "未知代码";
    default:
      // Other known types have only code 0; of an unknown type nothing is known.
      return code == 0 || !KnownIcmpType(type) ? "" : "未知代码";
  }
}

namespace details {
namespace {

constexpr std::size_t kIcmpHeader = 8;

}  // namespace

bool IsIcmpError(std::uint8_t type) { return type == 3 || type == 4 || type == 5 || type == 11 || type == 12; }

Described DescribeIcmp(const ByteReader& segment) {
  LayerBuilder layer("ICMP 报文", segment);
  layer.Field("类型", 0, 1, [](std::uint32_t type) { return Decimal(type) + "（" + IcmpTypeName(type) + "）"; });
  const std::uint8_t type = segment.Has(0, 1) ? static_cast<std::uint8_t>(segment.Value(0, 1)) : 0;
  layer.Field("代码", 1, 1, [type](std::uint32_t code) {
    const std::string name = IcmpCodeName(type, static_cast<std::uint8_t>(code));
    return Decimal(code) + (name.empty() ? "" : "（" + name + "）");
  });
  layer.HexNumber("校验和", 2, 2);
  if (!segment.Has(0, 1)) return {layer.Take(), 0};
  std::size_t headerLength = kIcmpHeader;
  const auto milliseconds = [](std::uint32_t value) { return Decimal(value) + " 毫秒"; };
  switch (type) {
    case 0: case 8: case 13: case 14: case 15: case 16: case 17: case 18:
      layer.Number("标识", 4, 2);
      layer.Number("序号", 6, 2);
      if (type == 13 || type == 14) {
        layer.Field("原始时间戳", 8, 4, milliseconds);
        layer.Field("接收时间戳", 12, 4, milliseconds);
        layer.Field("传送时间戳", 16, 4, milliseconds);
        headerLength = 20;
      }
      if (type == 17 || type == 18) {
        layer.Address("地址掩码", 8);
        headerLength = 12;
      }
      break;
    case 3:
      if (segment.Has(1, 1) && segment.Value(1, 1) == 4) layer.Number("下一跳 MTU", 6, 2);
      break;
    case 5: layer.Address("网关地址", 4); break;
    case 9:
      layer.Number("地址数", 4, 1);
      layer.Number("地址项长度", 5, 1);
      layer.Field("生存期", 6, 2, [](std::uint32_t seconds) { return Decimal(seconds) + " 秒"; });
      break;
    case 12: layer.Number("指针", 4, 1); break;
    case 4: case 10: case 11: break;
    default: layer.HexNumber("首部其余部分", 4, 4); break;
  }
  return {layer.Take(), segment.Has(0, headerLength) ? headerLength : 0};
}

}  // namespace details
}  // namespace orvanel
