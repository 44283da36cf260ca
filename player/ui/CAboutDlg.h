// The about box: program icon, name and version, and an OK button.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);

private:
    QLabel m_icon;
    QLabel m_textName;
    QLabel m_textLine2;
    QPushButton m_btnOk;
};
