#include "CBrelsoPlayerDlg.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QPointer>
#include <QResizeEvent>
#include <QShortcut>
#include <algorithm>
#include <cstdio>

#include "CAboutDlg.h"
#include "CFrameWork.h"
#include "DialogUnits.h"
#include "MessageBox.h"
#include "PlayerSettings.h"
#include "PrivateMessage.h"
#include "ResourceTable.h"

CBrelsoPlayerDlg::CBrelsoPlayerDlg(QWidget* pParent)
    : QDialog(pParent),
      m_hIcon(QPixmap::fromImage(BrelsoRes::LoadIconImage(IDR_MAINFRAME))),
      m_menuSystem(this) {
    setWindowTitle(QStringLiteral("岚禾科技流媒体播放器"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(DialogUnits::ToPixels(QSize(320, 200)));
    OnInitDialog();
}

CBrelsoPlayerDlg::~CBrelsoPlayerDlg() {
    // Every play stops before the windows it draws into go away.
    CFrameWork& fw = GetFrameWork();
    SaveSession();
    for (int i = 0; i < CFrameWork::kWindowCount; ++i) {
        fw.ClosePlay(i);
    }
    // Opens and closes still on the stream worker end before the libraries may be cleaned up.
    fw.Drain();
}

void CBrelsoPlayerDlg::OnInitDialog() {
    const QString strAbout = BrelsoRes::LoadStringResource(IDS_ABOUTBOX);
    if (!strAbout.isEmpty()) {
        m_menuSystem.addSeparator();
        QAction* pAbout = m_menuSystem.addAction(strAbout);
        pAbout->setData(IDM_ABOUTBOX);
        connect(pAbout, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }
    // The window menu opens with Alt+Space, as on the desktop's own windows.
    auto* pShortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(pShortcut, &QShortcut::activated, this,
            [this] { m_menuSystem.popup(mapToGlobal(QPoint(0, 0))); });

    setWindowIcon(m_hIcon);
    move(0, 0);
    resize(1000, 720);

    m_dlgMenu.Create(this);
    m_dlgPlayPannel.Create(this);
#ifdef BRELSO_HAVE_FUNCTION_DLG
    m_dlgFunction.Create(this);
#else
    m_dlgFunction.setParent(this);
    m_dlgFunction.resize(width(), DialogUnits::ToPixelsY(53));
    m_dlgFunction.show();
#endif
    Layout();
#ifdef BRELSO_HAVE_FUNCTION_DLG
    m_dlgFunction.m_pPlayPannel = &m_dlgPlayPannel;
#endif
}

void CBrelsoPlayerDlg::SaveSession() {
    const CFrameWork& fw = GetFrameWork();
    PlayerSettings::Session session;
    for (int i = 0; i < CFrameWork::kWindowCount; ++i) {
        PlayerSettings::WindowSource& source = session.windows[i];
        const int nType = fw.m_stPlayInfo[i].nPlayType;
        if (nType == kPlayNone || fw.m_strSource[i].isEmpty()) continue;
        source.type = nType == kPlayStream ? PlayerSettings::SourceType::Stream
                                           : PlayerSettings::SourceType::File;
        source.strSource = fw.m_strSource[i];
        source.bTcp = fw.m_bSourceTcp[i];
    }
    session.nCurrent = fw.m_nCurIndex;
    PlayerSettings::SaveSession(session);
}

void CBrelsoPlayerDlg::RestoreSession() {
    OpenSession(PlayerSettings::LoadSession(), false);
}

void CBrelsoPlayerDlg::OpenSession(const PlayerSettings::Session& session, bool bReport) {
    CFrameWork& fw = GetFrameWork();
    QPointer<CBrelsoPlayerDlg> pThis(this);
    for (int i = 0; i < CFrameWork::kWindowCount; ++i) {
        const PlayerSettings::WindowSource& source = session.windows[i];
        // A source that cannot be opened leaves its window idle, without a message box.
        if (source.type == PlayerSettings::SourceType::Stream) {
            const int nStarted = fw.BeginOpenStream(
                i, source.strSource, source.bTcp, [pThis, i, bReport](int nResult) {
                    if (bReport && nResult == 0) ReportNotOpened(i);
                    if (pThis == nullptr) return;
                    pThis->update();
                    PostPrivateMessage(pThis, MSG_PLAYWND_CHANGED, 0, 0);
                });
            if (bReport && nStarted == 0) ReportNotOpened(i);
        } else if (source.type == PlayerSettings::SourceType::File) {
            if (fw.OpenFileIn(i, source.strSource) == 0 && bReport) ReportNotOpened(i);
        }
    }
    m_dlgPlayPannel.SelectWindow(session.nCurrent);
    update();
}

void CBrelsoPlayerDlg::ReportNotOpened(int nIndex) {
    // Only the window: the address may hold a password.
    std::fprintf(stderr, "BrelsoPlayer: window %d: the source could not be opened\n", nIndex + 1);
}

void CBrelsoPlayerDlg::Layout() {
    const QRect rc = rect();
    const int nMenuHeight = m_dlgMenu.height();
    const int nFunctionHeight = m_dlgFunction.height();
    m_dlgMenu.setGeometry(rc.left(), rc.top(), rc.width(), nMenuHeight);
    m_dlgFunction.setGeometry(rc.left(), rc.bottom() + 1 - nFunctionHeight, rc.width(),
                              nFunctionHeight);
    m_dlgPlayPannel.setGeometry(rc.left(), rc.top() + nMenuHeight, rc.width(),
                                std::max(rc.height() - nMenuHeight - nFunctionHeight, 0));
    // Each child lays out its own controls, also when its size did not change.
    for (QWidget* pChild :
         {static_cast<QWidget*>(&m_dlgMenu), static_cast<QWidget*>(&m_dlgFunction),
          static_cast<QWidget*>(&m_dlgPlayPannel)}) {
        QCoreApplication::postEvent(pChild, new QResizeEvent(pChild->size(), pChild->size()));
    }
}

void CBrelsoPlayerDlg::resizeEvent(QResizeEvent* pEvent) {
    QDialog::resizeEvent(pEvent);
    if (isVisible()) {
        Layout();
    }
}

void CBrelsoPlayerDlg::customEvent(QEvent* pEvent) {
    if (static_cast<int>(pEvent->type()) == MSG_PLAYWND_CHANGED) {
        const auto* pMsg = static_cast<CPrivateMessage*>(pEvent);
        PostPrivateMessage(&m_dlgFunction, MSG_PLAYWND_CHANGED, pMsg->WParam(), pMsg->LParam());
        return;
    }
    QDialog::customEvent(pEvent);
}

void CBrelsoPlayerDlg::contextMenuEvent(QContextMenuEvent* pEvent) {
    if (!m_menuSystem.isEmpty()) {
        m_menuSystem.popup(pEvent->globalPos());
    }
}

void CBrelsoPlayerDlg::OnSysCommand(int nId) {
    if (nId == IDM_ABOUTBOX) {
        CAboutDlg dlg(this);
        dlg.exec();
    }
}

void CBrelsoPlayerDlg::reject() {
    if (UiMessageBox::Show(this, QStringLiteral("确定退出本程序吗?"),
                           QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok) {
        QDialog::reject();
    }
}
