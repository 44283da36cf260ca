#include "MessageBox.h"

#include <QCoreApplication>

namespace UiMessageBox {
namespace {

Interceptor& CurrentInterceptor() {
    static Interceptor s_fnInterceptor;
    return s_fnInterceptor;
}

}  // namespace

QMessageBox::StandardButton Show(QWidget* pParent, const QString& strText,
                                 QMessageBox::StandardButtons buttons, QMessageBox::Icon icon) {
    if (CurrentInterceptor()) {
        return CurrentInterceptor()(strText, buttons);
    }
    QMessageBox box(icon, QCoreApplication::applicationName(), strText, buttons, pParent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void SetInterceptor(Interceptor fnInterceptor) {
    CurrentInterceptor() = std::move(fnInterceptor);
}

}  // namespace UiMessageBox
