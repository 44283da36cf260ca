// The video panel: four play windows in a fixed two-by-two grid. A click makes a window the
// current one, a double click lets it fill the panel and a second one puts the grid back.
#pragma once

#include <QWidget>

#include "CPlayDlg.h"

class CPlayPannelDlg : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWindowCount = 4;

    explicit CPlayPannelDlg(QWidget* pParent = nullptr);
    ~CPlayPannelDlg() override;

    // Creates the panel as a child of pParent with its four play windows, and hands their
    // render targets to the play controller.
    void Create(QWidget* pParent);

    // Makes window nIndex the current one, as a click on it does (other indices are ignored).
    void SelectWindow(int nIndex);

    // Computes the grid from the panel's client area and moves the four windows into it.
    void LayoutWindows();

    CPlayDlg m_wndPlay[kWindowCount];

protected:
    void resizeEvent(QResizeEvent* pEvent) override;
    void customEvent(QEvent* pEvent) override;

private:
    bool m_bCreated = false;
};
