// The stream dialog: asks for an RTSP address and whether to carry the media over TCP.
#pragma once

#include <QCheckBox>
#include <QComboBox>
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

    // The addresses typed before, the most recent first; the field stays empty and editable.
    void SetHistory(const QStringList& history);

    QLineEdit* AddressEdit() { return m_comboAddress.lineEdit(); }
    QComboBox* AddressCombo() { return &m_comboAddress; }
    QCheckBox* TcpCheck() { return &m_checkTcp; }

public slots:
    // OK: checks the address; a refused one keeps the dialog open.
    void accept() override;

private:
    QLabel m_labelPrompt;
    QComboBox m_comboAddress;
    QCheckBox m_checkTcp;
    QPushButton m_btnOk;
    QPushButton m_btnCancel;
};
