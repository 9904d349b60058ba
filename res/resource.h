// Identifiers of the dialogs, controls, strings and commands.
#pragma once

namespace orvanel::res {

inline constexpr int IDC_STATIC = -1;
inline constexpr int IDOK = 1;
inline constexpr int IDM_ABOUTBOX = 0x10;

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_CAPTURE_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;

inline constexpr int IDC_BTN_START = 1000;
inline constexpr int IDC_ALL_UDP = 1002;
inline constexpr int IDC_ALL_ICMP = 1003;
inline constexpr int IDC_ALL_OTHER = 1004;
inline constexpr int IDC_ALL_TCP = 1005;
inline constexpr int IDC_SRC_IP = 1006;
inline constexpr int IDC_ERROR = 1007;
inline constexpr int IDC_DST_IP = 1008;
inline constexpr int IDC_SRC_UDP = 1009;
inline constexpr int IDC_SRC_ICMP = 1010;
inline constexpr int IDC_SRC_OTHER = 1011;
inline constexpr int IDC_SRC_TCP = 1012;
inline constexpr int IDC_DST_UDP = 1013;
inline constexpr int IDC_DST_ICMP = 1014;
inline constexpr int IDC_DST_OTHER = 1015;
inline constexpr int IDC_DST_TCP = 1016;
inline constexpr int IDC_BTN_CLEAR = 1017;
inline constexpr int IDC_LIST_PACKETS = 1018;
inline constexpr int IDC_OTH_UDP = 1019;
inline constexpr int IDC_OTH_ICMP = 1020;
inline constexpr int IDC_OTH_OTHER = 1021;
inline constexpr int IDC_OTH_TCP = 1022;
inline constexpr int IDC_CHK_OTHER = 1027;
inline constexpr int IDC_CHK_SRC_IP = 1028;
inline constexpr int IDC_CHK_DST_IP = 1029;
inline constexpr int IDC_CHK_SRC_TCP = 1030;
inline constexpr int IDC_CHK_SRC_UDP = 1031;
inline constexpr int IDC_CHK_SRC_ICMP = 1032;
inline constexpr int IDC_CHK_SRC_OTHER = 1033;
inline constexpr int IDC_CHK_DST_TCP = 1034;
inline constexpr int IDC_CHK_DST_UDP = 1035;
inline constexpr int IDC_CHK_DST_ICMP = 1036;
inline constexpr int IDC_CHK_DST_OTHER = 1037;
inline constexpr int IDC_CHK_OTH_TCP = 1038;
inline constexpr int IDC_CHK_OTH_UDP = 1039;
inline constexpr int IDC_CHK_OTH_ICMP = 1040;
inline constexpr int IDC_CHK_OTH_OTHER = 1041;
inline constexpr int IDC_CHK_SAVE_LAST = 1042;
inline constexpr int IDC_CB_DEVICE = 1043;
// The About box's icon and its two lines have no identifier of their own.

}  // namespace orvanel::res
