#include "CURLInputDlg.h"

#include "DialogUnits.h"
#include "DlgCtrlId.h"
#include "MessageBox.h"
#include "resource.h"

using DialogUnits::ToPixels;

CURLInputDlg::CURLInputDlg(QWidget* pParent)
    : QDialog(pParent),
      m_labelPrompt(QStringLiteral("请输入网络URL(RTSP)："), this),
      m_comboAddress(this),
      m_checkTcp(QStringLiteral("TCP"), this),
      m_btnOk(QStringLiteral("确定"), this),
      m_btnCancel(QStringLiteral("取消"), this) {
    setWindowTitle(QStringLiteral("打开RTSP流"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ToPixels(QSize(233, 75)));
    m_labelPrompt.setGeometry(ToPixels(3, 10, 86, 8).adjusted(0, 0, 40, 4));
    // An edit field that also offers the addresses typed before.
    m_comboAddress.setEditable(true);
    m_comboAddress.setInsertPolicy(QComboBox::NoInsert);
    m_comboAddress.setMaxVisibleItems(20);
    m_comboAddress.setGeometry(ToPixels(14, 28, 213, 14));
    SetDlgCtrlID(&m_comboAddress, IDC_EDIT_URL);
    m_checkTcp.setGeometry(ToPixels(1, 48, 29, 10).adjusted(0, 0, 10, 4));
    SetDlgCtrlID(&m_checkTcp, IDC_CHECK_TCP);
    m_btnOk.setGeometry(ToPixels(64, 61, 50, 14));
    m_btnOk.setDefault(true);
    m_btnCancel.setGeometry(ToPixels(120, 61, 50, 14));
    connect(&m_btnOk, &QPushButton::clicked, this, &CURLInputDlg::accept);
    connect(&m_btnCancel, &QPushButton::clicked, this, &CURLInputDlg::reject);
    m_comboAddress.setFocus();
}

void CURLInputDlg::SetHistory(const QStringList& history) {
    m_comboAddress.clear();
    m_comboAddress.addItems(history);
    m_comboAddress.setCurrentIndex(-1);
    m_comboAddress.clearEditText();
}

bool CURLInputDlg::IsRtspAddress(const QString& strAddress) {
    // Case-sensitive: "RTSP://" is refused.
    return strAddress.trimmed().left(7) == QStringLiteral("rtsp://");
}

void CURLInputDlg::accept() {
    const QString strTrimmed = m_comboAddress.currentText().trimmed();
    if (!IsRtspAddress(strTrimmed)) {
        UiMessageBox::Show(this, QStringLiteral("无效的RTSP地址!"));
        return;
    }
    // The controller gets the address that was checked, without the white space around it.
    m_strAddress = strTrimmed;
    m_bTcp = m_checkTcp.isChecked() ? 1 : 0;
    QDialog::accept();
}
