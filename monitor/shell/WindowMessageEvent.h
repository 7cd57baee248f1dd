#pragma once

// A window message on its way to a skin window or the Tracing Box: the program's own messages
// and the few standard ones the windows handle, by their usual numbers. Posted messages travel
// as Qt events to the receiver's event queue; a script for a page travels with its text.

#include <QEvent>

#include <cstdint>
#include <functional>
#include <string>

namespace gardivo {

inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_COMMAND = 0x0111;
inline constexpr uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr uint32_t WM_USER = 0x0400;

// Commands of the tray menu (menu 111) and the first ids of the video-source and skin items.
inline constexpr int kCommandStartWatchdog = 40006;
inline constexpr int kCommandStopWatchdog = 40007;
inline constexpr int kCommandOpenSetupWizard = 40009;
inline constexpr int kCommandExit = 40010;
inline constexpr int kCommandFirstVideoSource = 1001;
inline constexpr int kCommandLastVideoSource = 1008;
inline constexpr int kCommandFirstSkin = 2001;

// wParam and lParam as the messages carry them: a point packs x into the low 16 bits and y
// into the high 16 bits, each signed.
inline intptr_t packPoint(int x, int y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16) |
                                 static_cast<uint16_t>(x));
}
inline int pointX(intptr_t lParam) {
    return static_cast<int16_t>(static_cast<uint16_t>(lParam & 0xFFFF));
}
inline int pointY(intptr_t lParam) {
    return static_cast<int16_t>(static_cast<uint16_t>((lParam >> 16) & 0xFFFF));
}

class WindowMessageEvent final : public QEvent {
public:
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    WindowMessageEvent(uint32_t message, intptr_t wParam, intptr_t lParam, std::string text = {})
        : QEvent(eventType()), message(message), wParam(wParam), lParam(lParam), text(std::move(text)) {}

    uint32_t message;
    intptr_t wParam;
    intptr_t lParam;
    // The script of WM_APP_RUN_SCRIPT.
    std::string text;
    // Called with the handler's result when the sender waits for it (a send from another
    // program through the local endpoint).
    std::function<void(int64_t)> reply;
};

} // namespace gardivo
