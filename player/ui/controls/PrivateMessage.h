// Private window messages of the player: custom events carrying the two message parameters.
// Children tell their parents about changes only by posting these.
#pragma once

#include <QEvent>
#include <QObject>
#include <cstdint>

// The first private message number.
inline constexpr int WM_USER_BASE = 0x0400;
// The current play window, or what plays in it, changed.
inline constexpr int MSG_PLAYWND_CHANGED = WM_USER_BASE + 3000;  // 0x0FB8
// A slider's knob is being dragged (wParam control id, lParam position).
inline constexpr int MSG_SLIDER_MOVING = WM_USER_BASE + 9425;  // 0x28D1
// A slider's position was set by releasing the knob or by a key (same parameters).
inline constexpr int MSG_SLIDER_MOVED = WM_USER_BASE + 9426;  // 0x28D2

class CPrivateMessage : public QEvent {
public:
    CPrivateMessage(int nMsg, uintptr_t wParam, intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(nMsg)), m_wParam(wParam), m_lParam(lParam) {}

    int Message() const { return static_cast<int>(type()); }
    uintptr_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }

private:
    uintptr_t m_wParam;
    intptr_t m_lParam;
};

// Queues the message for the receiver and returns at once (the receiver owns the event).
void PostPrivateMessage(QObject* pReceiver, int nMsg, uintptr_t wParam, intptr_t lParam);
// Delivers the message now and returns when the receiver has handled it.
void SendPrivateMessage(QObject* pReceiver, int nMsg, uintptr_t wParam, intptr_t lParam);
