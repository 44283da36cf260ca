// A flat owner-drawn push button: an icon (one picture, or one at rest and another while the
// pointer is over it or it is pressed), optional text, background and text colours per state,
// and a thin border shown only while the pointer is over it or it is pressed.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QPushButton>
#include <array>

class CButtonST : public QPushButton {
    Q_OBJECT
public:
    enum ColorIndex {
        BTN_BK_HOT = 0,     // background while the pointer is over it or it is pressed
        BTN_FG_HOT = 1,     // text in the same case
        BTN_BK_NORMAL = 2,  // background otherwise
        BTN_FG_NORMAL = 3,  // text otherwise
        BTN_BK_FOCUS = 4,   // background with the focus, pointer not over it, not pressed
        BTN_FG_FOCUS = 5,   // text in the same case
        BTN_COLOR_COUNT = 6
    };

    explicit CButtonST(QWidget* pParent = nullptr);
    ~CButtonST() override;

    // The button takes over the pictures. A null hot icon leaves the button without icons;
    // a null icon at rest means the hot icon is shown in every state.
    void SetIcons(const QPixmap& hot, const QPixmap& rest);
    // The same with icon resource numbers (0 for none).
    void SetIcons(int nHotId, int nRestId);
    void SetColor(int nIndex, const QColor& clr);
    QColor GetColor(int nIndex) const;
    void SetBorder(bool bBorder);
    // Paint the parent's background under the button instead of a colour.
    void SetTransparent();
    // Treat the button as the dialog's default button.
    void SetDefault(bool bDefault);

    bool IsMouseIn() const { return m_bMouseIn; }
    bool IsDefault() const { return m_bDefault; }
    bool HasIcon(int nEntry) const;

protected:
    // Drawing steps, in order.
    virtual void PaintBackground(QPainter& dc, const QRect& rc);
    virtual void PaintBorder(QPainter& dc, const QRect& rc);
    virtual void PaintIcon(QPainter& dc, bool bHasText, const QRect& rcItem, QRect& rcText,
                           bool bPressed);
    virtual void PaintCaption(QPainter& dc, const QString& strText, const QRect& rcItem,
                              const QRect& rcText, bool bPressed);

    void paintEvent(QPaintEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    struct IconEntry {
        QPixmap pixmap;
        int nWidth = 0;
        int nHeight = 0;
    };

    void CancelHover();
    void ResetColors();
    void ReleaseIcons();
    // Background, text colour pair for the current state.
    int StateBackgroundIndex() const;

    QPoint m_iconMargin{3, 3};
    QPoint m_pressShift{1, 1};
    bool m_bMouseIn = false;
    bool m_bTransparent = false;
    bool m_bPressed = false;
    bool m_bFocused = false;
    bool m_bDefault = false;
    bool m_bBorder = true;
    std::array<QColor, BTN_COLOR_COUNT> m_colors;
    QPixmap m_dcBack;
    QColor m_clrSysFace;  // system colours the defaults were taken from
    QColor m_clrSysText;
    std::array<IconEntry, 2> m_icons;
};
