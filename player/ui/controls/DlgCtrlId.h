// Control identifiers of the dialog controls, kept on each control widget.
#pragma once

class QWidget;

void SetDlgCtrlID(QWidget* pWidget, int nId);
// 0 when the widget has no identifier.
int GetDlgCtrlID(const QWidget* pWidget);
