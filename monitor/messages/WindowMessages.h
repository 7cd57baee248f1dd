#pragma once

// The program's own window messages, by the numbers every window and the setup wizard use.

#include <cstdint>

namespace gardivo {

inline constexpr uint32_t WM_APP = 0x8000;
inline constexpr uint32_t WM_APP_TRAY = WM_APP + 100;
inline constexpr uint32_t WM_APP_CAPTURE_BUSY = WM_APP + 500;
inline constexpr uint32_t WM_APP_CAPTURE_IDLE = WM_APP + 501;
inline constexpr uint32_t WM_APP_GRAPH_EVENT = WM_APP + 502;
inline constexpr uint32_t WM_APP_REGION_DONE = WM_APP + 504;
inline constexpr uint32_t WM_APP_SELECT_DEVICE = WM_APP + 600;
inline constexpr uint32_t WM_APP_SELECT_STANDARD = WM_APP + 601;
inline constexpr uint32_t WM_APP_SETTINGS_CHANGED = WM_APP + 602;
inline constexpr uint32_t WM_APP_PROC_AMP = WM_APP + 603;
inline constexpr uint32_t WM_APP_SETUP_OK = WM_APP + 604;
inline constexpr uint32_t WM_APP_ENABLE_MOVE = WM_APP + 1802;
inline constexpr uint32_t WM_APP_DISABLE_MOVE = WM_APP + 1803;
inline constexpr uint32_t WM_APP_RUN_SCRIPT = WM_APP + 1804;
inline constexpr uint32_t WM_APP_HIDE = WM_APP + 1805;
inline constexpr uint32_t WM_APP_SHOW = WM_APP + 1806;
inline constexpr uint32_t WM_APP_NEW_RECORD = WM_APP + 1807;
inline constexpr uint32_t WM_APP_PRUNE_HISTORY = WM_APP + 1808;
inline constexpr uint32_t WM_APP_MODE_CHANGED = WM_APP + 1809;
inline constexpr uint32_t WM_APP_REPORT = WM_APP + 1810;

// Registered names of the skin windows.
inline constexpr const char* kControlPanel = "ControlPanel";
inline constexpr const char* kScreen = "Screen";
inline constexpr const char* kHistory = "History";
// Not skin pages, but reached the same way: the Tracing Box and an open setup wizard.
inline constexpr const char* kTracingBox = "TracingBox";
inline constexpr const char* kSetupForm = "TfrmSetup";

} // namespace gardivo
