#include "PrivateMessage.h"

#include <QCoreApplication>

static_assert(MSG_PLAYWND_CHANGED == 0x0FB8);
static_assert(MSG_SLIDER_MOVING == 0x28D1);
static_assert(MSG_SLIDER_MOVED == 0x28D2);
static_assert(MSG_PLAYWND_CHANGED > QEvent::User && MSG_SLIDER_MOVED < QEvent::MaxUser);

void PostPrivateMessage(QObject* pReceiver, int nMsg, uintptr_t wParam, intptr_t lParam) {
    if (pReceiver != nullptr) {
        QCoreApplication::postEvent(pReceiver, new CPrivateMessage(nMsg, wParam, lParam));
    }
}

void SendPrivateMessage(QObject* pReceiver, int nMsg, uintptr_t wParam, intptr_t lParam) {
    if (pReceiver != nullptr) {
        CPrivateMessage msg(nMsg, wParam, lParam);
        QCoreApplication::sendEvent(pReceiver, &msg);
    }
}
