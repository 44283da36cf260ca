// The main window: a frame for the toolbar, the video panel and the control panel stacked
// from top to bottom. It relays MSG_PLAYWND_CHANGED to the control panel, asks before
// quitting and closes every play when it goes away.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QMenu>

#include "CMenuDlg.h"
#include "CPlayPannelDlg.h"
#include "PlayerSettings.h"
#ifdef BRELSO_HAVE_FUNCTION_DLG
#include "CFunctionDlg.h"
#endif

class CBrelsoPlayerDlg : public QDialog {
    Q_OBJECT
public:
    explicit CBrelsoPlayerDlg(QWidget* pParent = nullptr);
    ~CBrelsoPlayerDlg() override;

    // Places the three children from the client area and asks each to lay out its controls.
    void Layout();
    // Reopens in each window what played there when the player last closed (streams without
    // waiting for them) and makes the window that was current current again.
    void RestoreSession();
    // Opens the sources of session in their windows, as RestoreSession does, and makes its
    // current window current. With bReport a source that cannot be opened is named on the
    // standard error output (by window number only).
    void OpenSession(const PlayerSettings::Session& session, bool bReport);
    // Remembers what plays in each window and the current window.
    void SaveSession();
    // A command of the window menu (16: the about box).
    void OnSysCommand(int nId);
    // The window menu with the about entry.
    QMenu* SystemMenu() { return &m_menuSystem; }

    QIcon m_hIcon;
    CMenuDlg m_dlgMenu;
#ifdef BRELSO_HAVE_FUNCTION_DLG
    CFunctionDlg m_dlgFunction;
#else
    QWidget m_dlgFunction;  // the control panel's place
#endif
    CPlayPannelDlg m_dlgPlayPannel;

public slots:
    // Close box or Escape: quits only after the user confirms.
    void reject() override;

protected:
    void resizeEvent(QResizeEvent* pEvent) override;
    void customEvent(QEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;

private:
    void OnInitDialog();
    static void ReportNotOpened(int nIndex);

    QMenu m_menuSystem;
};
