#include <array>

#include "res/resource.h"
#include "res/strings.h"
#include "res/templates.h"

namespace orvanel::res {
namespace {

using K = ControlKind;

constexpr std::uint32_t kButton = kVisible | kTabStop;
constexpr std::uint32_t kLabelStyle = kVisible;
constexpr std::uint32_t kCounter = kVisible | kTabStop | kBorder | kCenter | kReadOnly;
constexpr std::uint32_t kFilter = kVisible | kTabStop | kBorder | kCenter;
constexpr std::uint32_t kCheck = kVisible | kTabStop;

constexpr std::array kCaptureControls = {
    ControlTemplate{IDC_BTN_START, K::PushButton, "开始嗅探", 353, 124, 46, 18, kButton},
    ControlTemplate{IDC_STATIC, K::GroupBox, "所有数据包统计", 7, 8, 96, 110, kVisible},
    ControlTemplate{IDC_STATIC, K::Label, "TCP:", 19, 30, 17, 8, kLabelStyle},
    ControlTemplate{IDC_STATIC, K::Label, "UDP:", 19, 45, 17, 8, kLabelStyle},
    ControlTemplate{IDC_STATIC, K::Label, "ICMP:", 19, 61, 21, 8, kLabelStyle},
    ControlTemplate{IDC_STATIC, K::Label, "OTHER:", 19, 76, 25, 8, kLabelStyle},
    ControlTemplate{IDC_ALL_UDP, K::Edit, "", 49, 43, 40, 12, kCounter},
    ControlTemplate{IDC_ALL_ICMP, K::Edit, "", 49, 58, 40, 12, kCounter},
    ControlTemplate{IDC_ALL_OTHER, K::Edit, "", 49, 73, 40, 12, kCounter},
    ControlTemplate{IDC_ALL_TCP, K::Edit, "", 49, 28, 40, 12, kCounter},
    ControlTemplate{IDC_ERROR, K::Edit, "", 49, 97, 40, 12, kCounter},
    ControlTemplate{IDC_STATIC, K::Label, "ERROR:", 19, 99, 25, 8, kLabelStyle},
    ControlTemplate{IDC_STATIC, K::GroupBox, "指定数据包统计", 116, 7, 292, 111, kVisible},
    ControlTemplate{IDC_SRC_IP, K::Edit, "", 125, 36, 67, 12, kFilter},
    ControlTemplate{IDC_DST_IP, K::Edit, "", 223, 35, 68, 12, kFilter},
    ControlTemplate{IDC_SRC_UDP, K::Edit, "", 165, 69, 37, 12, kCounter},
    ControlTemplate{IDC_SRC_ICMP, K::Edit, "", 165, 83, 37, 12, kCounter},
    ControlTemplate{IDC_SRC_OTHER, K::Edit, "", 165, 98, 37, 12, kCounter},
    ControlTemplate{IDC_SRC_TCP, K::Edit, "", 165, 53, 37, 12, kCounter},
    ControlTemplate{IDC_DST_UDP, K::Edit, "", 264, 69, 37, 12, kCounter},
    ControlTemplate{IDC_DST_ICMP, K::Edit, "", 264, 83, 37, 12, kCounter},
    ControlTemplate{IDC_DST_OTHER, K::Edit, "", 264, 98, 37, 12, kCounter},
    ControlTemplate{IDC_DST_TCP, K::Edit, "", 264, 53, 37, 12, kCounter},
    ControlTemplate{IDC_BTN_CLEAR, K::PushButton, "清除列表", 300, 124, 46, 18, kButton},
    ControlTemplate{IDC_OTH_UDP, K::Edit, "", 361, 69, 36, 12, kCounter},
    ControlTemplate{IDC_OTH_ICMP, K::Edit, "", 361, 83, 36, 12, kCounter},
    ControlTemplate{IDC_OTH_OTHER, K::Edit, "", 361, 97, 36, 12, kCounter},
    ControlTemplate{IDC_OTH_TCP, K::Edit, "", 361, 53, 36, 12, kCounter},
    ControlTemplate{IDC_LIST_PACKETS, K::ListView, "", 7, 148, 401, 187, kVisible | kTabStop | kBorder},
    ControlTemplate{IDC_STATIC, K::Label, "指定数据包信息列表", 7, 137, 73, 8, kLabelStyle},
    ControlTemplate{IDC_CHK_OTHER, K::CheckBox, "其它:", 319, 37, 49, 9, kCheck},
    ControlTemplate{IDC_CHK_SRC_IP, K::CheckBox, "源IP地址为:", 125, 21, 60, 10, kCheck},
    ControlTemplate{IDC_CHK_DST_IP, K::CheckBox, "目标IP地址为:", 223, 22, 68, 10, kCheck},
    ControlTemplate{IDC_CHK_SRC_TCP, K::CheckBox, "TCP:", 125, 54, 32, 10, kCheck},
    ControlTemplate{IDC_CHK_SRC_UDP, K::CheckBox, "UDP:", 125, 70, 32, 10, kCheck},
    ControlTemplate{IDC_CHK_SRC_ICMP, K::CheckBox, "ICMP:", 125, 84, 32, 10, kCheck},
    ControlTemplate{IDC_CHK_SRC_OTHER, K::CheckBox, "OTHER:", 125, 99, 39, 10, kCheck | kDisabled},
    ControlTemplate{IDC_CHK_DST_TCP, K::CheckBox, "TCP:", 223, 55, 32, 10, kCheck},
    ControlTemplate{IDC_CHK_DST_UDP, K::CheckBox, "UDP:", 223, 70, 32, 10, kCheck},
    ControlTemplate{IDC_CHK_DST_ICMP, K::CheckBox, "ICMP:", 223, 85, 32, 10, kCheck},
    ControlTemplate{IDC_CHK_DST_OTHER, K::CheckBox, "OTHER:", 223, 100, 40, 10, kCheck | kDisabled},
    ControlTemplate{IDC_CHK_OTH_TCP, K::CheckBox, "TCP:", 320, 55, 32, 10, kCheck},
    ControlTemplate{IDC_CHK_OTH_UDP, K::CheckBox, "UDP:", 320, 70, 32, 10, kCheck},
    ControlTemplate{IDC_CHK_OTH_ICMP, K::CheckBox, "ICMP:", 320, 85, 32, 10, kCheck},
    ControlTemplate{IDC_CHK_OTH_OTHER, K::CheckBox, "OTHER:", 320, 99, 40, 10, kCheck | kDisabled},
    ControlTemplate{IDC_CHK_SAVE_LAST, K::CheckBox, "最末数据包写入文件", 319, 21, 83, 10, kCheck},
    ControlTemplate{IDC_CB_DEVICE, K::ComboBox, "", 190, 126, 76, 122, kVisible | kTabStop},
    ControlTemplate{IDC_STATIC, K::Label, "选择网络设备地址:", 117, 129, 69, 8, kLabelStyle},
};

constexpr DialogTemplate kCaptureDialog{IDD_CAPTURE_DIALOG,      "Selvatrix v2.2", 415, 342, 9, "宋体",
                                        kSysMenu | kMinimizeBox, kCaptureControls};

constexpr std::array kAboutControls = {
    ControlTemplate{IDC_STATIC, K::Icon, "", 11, 17, 20, 20, kVisible},
    ControlTemplate{IDC_STATIC, K::Label, "Orvanel 1.0 版", 40, 10, 119, 8, kVisible},
    ControlTemplate{IDC_STATIC, K::Label, kMakerNotice, 40, 25, 119, 8, kVisible},
    ControlTemplate{IDOK, K::PushButton, "确定", 178, 7, 50, 14, kVisible | kTabStop | kDefPushButton},
};

constexpr DialogTemplate kAboutDialog{IDD_ABOUTBOX, "关于 Orvanel", 235, 55, 9, "宋体", kSysMenu, kAboutControls};

}  // namespace

const DialogTemplate& CaptureDialogTemplate() { return kCaptureDialog; }
const DialogTemplate& AboutDialogTemplate() { return kAboutDialog; }

}  // namespace orvanel::res
