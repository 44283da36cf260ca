// The toolbar across the top of the main window: "打开流" and "打开文件" open a source in the
// current play window; the maker's web address sits at the right end as a link.
#pragma once

#include <QLabel>
#include <QWidget>

#include "CButtonST.h"
#include "CHyperLink.h"

class CMenuDlg : public QWidget {
    Q_OBJECT
public:
    // The maker's web address shown by the link.
    static const QString kMakerAddress;
    // Choices of the file dialog, the first one selected.
    static const QString kFileFilter;

    explicit CMenuDlg(QWidget* pParent = nullptr);

    // Creates the toolbar as a child of pParent and initialises its controls.
    void Create(QWidget* pParent);

    // Starts opening an address in the current window, closing what played there first; the
    // window thread goes on meanwhile. The outcome comes later: the main window is told, and a
    // failure is reported to the user. False (reported at once) when the address or the decode
    // port was refused before any network call.
    bool OpenStreamInCurrent(const QString& strAddress, int bTcp);
    // The same for a file path (white space around it is removed; an empty path is ignored).
    bool OpenFileInCurrent(const QString& strPath);

    CButtonST m_btnOpenStream;
    CButtonST m_btnOpenFile;
    CHyperLink m_link;
    QLabel m_label;

public slots:
    void OnOpenStream();
    void OnOpenFile();

protected:
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    void CloseCurrentIfOpen();
    void OnStreamOpened(int nResult);
};
