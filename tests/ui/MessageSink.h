// A parent widget for tests that records the private messages its children post or send.
#pragma once

#include <QWidget>
#include <vector>

#include "PrivateMessage.h"

struct RecordedMessage {
    int nMsg;
    uintptr_t wParam;
    intptr_t lParam;
};

class MessageSink : public QWidget {
public:
    using QWidget::QWidget;
    std::vector<RecordedMessage> m_messages;

    int Count(int nMsg) const {
        int n = 0;
        for (const RecordedMessage& m : m_messages) {
            n += m.nMsg == nMsg ? 1 : 0;
        }
        return n;
    }

protected:
    void customEvent(QEvent* pEvent) override {
        const int nType = static_cast<int>(pEvent->type());
        if (nType == MSG_PLAYWND_CHANGED || nType == MSG_SLIDER_MOVING ||
            nType == MSG_SLIDER_MOVED) {
            const auto* pMsg = static_cast<const CPrivateMessage*>(pEvent);
            m_messages.push_back({nType, pMsg->WParam(), pMsg->LParam()});
        }
    }
};
