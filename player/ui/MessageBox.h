// Message boxes of the player: the text, the buttons, and the program's name as caption.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace UiMessageBox {

// Shows the box modally; returns the button the user chose.
QMessageBox::StandardButton Show(QWidget* pParent, const QString& strText,
                                 QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                 QMessageBox::Icon icon = QMessageBox::NoIcon);

// For unattended runs (automated checks, scripted sessions): when set, the interceptor
// receives every box instead of the user and its result is the user's answer.
using Interceptor = std::function<QMessageBox::StandardButton(
    const QString& strText, QMessageBox::StandardButtons buttons)>;
void SetInterceptor(Interceptor fnInterceptor);

}  // namespace UiMessageBox
