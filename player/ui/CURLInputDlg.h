// The stream dialog: asks for an RTSP address and whether to carry the media over TCP.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class CURLInputDlg : public QDialog {
    Q_OBJECT
public:
    explicit CURLInputDlg(QWidget* pParent = nullptr);

    // Whether an address, with white space around it removed, begins with "rtsp://".
    static bool IsRtspAddress(const QString& strAddress);

    // The checked address (white space around it removed) and the TCP choice, once the
    // dialog ended with OK.
    QString m_strAddress;
    int m_bTcp = 0;

    QLineEdit* AddressEdit() { return &m_editAddress; }
    QCheckBox* TcpCheck() { return &m_checkTcp; }

public slots:
    // OK: checks the address; a refused one keeps the dialog open.
    void accept() override;

private:
    QLabel m_labelPrompt;
    QLineEdit m_editAddress;
    QCheckBox m_checkTcp;
    QPushButton m_btnOk;
    QPushButton m_btnCancel;
};
