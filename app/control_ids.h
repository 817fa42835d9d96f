// The window's control ids, shared by the window and its layout.
#pragma once

namespace kestrune {

// Control ids; each control's objectName is its id's name.
inline constexpr int IDC_GET_SETTINGS = 1001;
inline constexpr int IDC_APPLY_SETTINGS = 1002;
inline constexpr int IDC_RESET_RECEIVER = 1003;
inline constexpr int IDC_STATUS = 1004;
inline constexpr int IDC_BAUD = 1005;
inline constexpr int IDC_PARITY = 1006;
inline constexpr int IDC_STOP_BITS = 1007;
inline constexpr int IDC_FORMAT = 1008;
inline constexpr int IDC_GGA = 1009;
inline constexpr int IDC_GLL = 1010;
inline constexpr int IDC_GSA = 1011;
inline constexpr int IDC_GSV = 1012;
inline constexpr int IDC_RMC = 1013;
inline constexpr int IDC_VTG = 1014;
inline constexpr int IDC_ZDA = 1015;

// The controls with an id, from the first to the last id.
inline constexpr int kControlCount = IDC_ZDA - IDC_GET_SETTINGS + 1;

}  // namespace kestrune
