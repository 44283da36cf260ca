#include "CMenuDlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>

#include "CFrameWork.h"
#include "CURLInputDlg.h"
#include "DialogUnits.h"
#include "DlgCtrlId.h"
#include "MessageBox.h"
#include "PlayerSettings.h"
#include "PrivateMessage.h"
#include "resource.h"

using DialogUnits::ToPixels;

const QString CMenuDlg::kMakerAddress = QStringLiteral("http://www.brelso.com");
const QString CMenuDlg::kFileFilter =
    QStringLiteral("Brelso Files(*.qf);;AVI Files(*.avi);;All Files(*.*)");

CMenuDlg::CMenuDlg(QWidget* pParent)
    : QWidget(pParent),
      m_btnOpenStream(this),
      m_btnOpenFile(this),
      m_link(this),
      m_label(QStringLiteral("岚禾视讯："), this) {
    resize(ToPixels(QSize(523, 23)));
    m_btnOpenStream.setText(QStringLiteral("打开流"));
    m_btnOpenStream.setGeometry(ToPixels(0, 0, 50, 22));
    SetDlgCtrlID(&m_btnOpenStream, IDC_OPEN_STREAM);
    m_btnOpenFile.setText(QStringLiteral("打开文件"));
    m_btnOpenFile.setGeometry(ToPixels(49, 0, 50, 22));
    SetDlgCtrlID(&m_btnOpenFile, IDC_OPEN_FILE);
    m_link.setText(kMakerAddress);
    m_link.setGeometry(ToPixels(442, 7, 80, 8));
    SetDlgCtrlID(&m_link, IDC_LINK);
    m_label.setGeometry(ToPixels(400, 7, 41, 8));
    m_label.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetDlgCtrlID(&m_label, IDC_LABEL);
    connect(&m_btnOpenStream, &QPushButton::clicked, this, &CMenuDlg::OnOpenStream);
    connect(&m_btnOpenFile, &QPushButton::clicked, this, &CMenuDlg::OnOpenFile);
}

void CMenuDlg::Create(QWidget* pParent) {
    setParent(pParent);
    m_link.Attach();
    // The label ends where the link begins and shares its line.
    const QRect rcLink = m_link.geometry();
    m_label.setGeometry(rcLink.left() - m_label.sizeHint().width(), rcLink.top(),
                        m_label.sizeHint().width(), rcLink.height());

    const QColor clrFace = QApplication::palette().color(QPalette::Button);
    m_btnOpenFile.SetIcons(IDI_OPEN_FILE, 0);
    m_btnOpenFile.SetColor(CButtonST::BTN_BK_HOT, QColor(135, 200, 250));
    m_btnOpenFile.SetColor(CButtonST::BTN_BK_NORMAL, clrFace);
    m_btnOpenFile.SetColor(CButtonST::BTN_BK_FOCUS, clrFace);
    m_btnOpenStream.SetIcons(IDI_OPEN_STREAM, 0);
    m_btnOpenStream.SetColor(CButtonST::BTN_BK_HOT, QColor(135, 200, 250));
    m_btnOpenStream.SetColor(CButtonST::BTN_BK_NORMAL, clrFace);
    m_btnOpenStream.SetColor(CButtonST::BTN_BK_FOCUS, clrFace);

    m_link.SetTarget(kMakerAddress);
    m_link.SetUnderlined(true);
    show();
}

void CMenuDlg::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    if (!isVisible()) {
        return;
    }
    // The link's right edge stays 10 pixels from the bar's right edge; the label follows it.
    const int dx = rect().right() - m_link.geometry().right() - 10;
    m_link.move(m_link.pos() + QPoint(dx, 0));
    m_label.move(m_label.pos() + QPoint(dx, 0));
}

void CMenuDlg::CloseCurrentIfOpen() {
    CFrameWork& fw = GetFrameWork();
    if (fw.m_stPlayInfo[fw.m_nCurIndex].nPlayType != kPlayNone) {
        fw.ClosePlay(fw.m_nCurIndex);
    }
    // The play windows show the outcome: the new source, or the logo after a failure.
    window()->update();
}

void CMenuDlg::OnOpenStream() {
    CURLInputDlg dlg(this);
    dlg.SetHistory(PlayerSettings::StreamHistory());
    if (dlg.exec() != QDialog::Accepted) {
        return;
    }
    PlayerSettings::AddToStreamHistory(dlg.m_strAddress);
    OpenStreamInCurrent(dlg.m_strAddress, dlg.m_bTcp);
}

bool CMenuDlg::OpenStreamInCurrent(const QString& strAddress, int bTcp) {
    CloseCurrentIfOpen();
    CFrameWork& fw = GetFrameWork();
    QPointer<CMenuDlg> pThis(this);
    const int nStarted = fw.BeginOpenStream(fw.m_nCurIndex, strAddress, bTcp, [pThis](int nResult) {
        if (pThis != nullptr) pThis->OnStreamOpened(nResult);
    });
    if (!nStarted) {
        OnStreamOpened(0);
        return false;
    }
    // The window shows that it is connecting.
    window()->update();
    return true;
}

void CMenuDlg::OnStreamOpened(int nResult) {
    window()->update();
    // Also after a failure: the control panel shows the idle window's state again.
    PostPrivateMessage(parentWidget(), MSG_PLAYWND_CHANGED, 0, 0);
    if (!nResult) UiMessageBox::Show(this, QStringLiteral("打开网络流流失败！"));
}

void CMenuDlg::OnOpenFile() {
    const QString strPath = QFileDialog::getOpenFileName(
        window(), QString(), QString(), kFileFilter, nullptr, QFileDialog::ReadOnly);
    if (strPath.isNull()) {
        return;
    }
    OpenFileInCurrent(strPath);
}

bool CMenuDlg::OpenFileInCurrent(const QString& strPath) {
    const QString strTrimmed = strPath.trimmed();
    if (strTrimmed.isEmpty()) {
        return false;
    }
    CloseCurrentIfOpen();
    if (!GetFrameWork().OpenFile(strTrimmed)) {
        PostPrivateMessage(parentWidget(), MSG_PLAYWND_CHANGED, 0, 0);
        UiMessageBox::Show(this, QStringLiteral("打开文件失败！"));
        return false;
    }
    PostPrivateMessage(parentWidget(), MSG_PLAYWND_CHANGED, 0, 0);
    return true;
}
