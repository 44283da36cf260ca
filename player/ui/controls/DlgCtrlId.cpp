#include "DlgCtrlId.h"

#include <QVariant>
#include <QWidget>

namespace {
constexpr const char* kPropertyName = "dlgCtrlId";
}

void SetDlgCtrlID(QWidget* pWidget, int nId) {
    pWidget->setProperty(kPropertyName, nId);
}

int GetDlgCtrlID(const QWidget* pWidget) {
    return pWidget == nullptr ? 0 : pWidget->property(kPropertyName).toInt();
}
