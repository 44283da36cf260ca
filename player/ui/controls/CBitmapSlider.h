// A horizontal slider drawn from bitmaps: a track, a fill for the part before the knob and a
// knob. Driven by mouse and keyboard; it reports to its parent with MSG_SLIDER_MOVING while
// the knob is dragged and MSG_SLIDER_MOVED when the button is released or a key moved it
// (wParam its control identifier, lParam the new position).
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

class QPainter;

class CBitmapSlider : public QWidget {
    Q_OBJECT
public:
    explicit CBitmapSlider(QWidget* pParent = nullptr);
    ~CBitmapSlider() override;

    // Loads the track and fill bitmaps. With bTransparentTrack the pixels of the track's and
    // the fill's top-left colour are see-through. With m_bFitLength set, the window takes the
    // track's height and the track is repeated along the window's width.
    bool SetTrackBitmaps(int nTrackId, int nFillId, bool bTransparentTrack);
    // Loads the knob bitmaps (knob, hot knob, disabled-state knob).
    bool SetKnobBitmaps();
    // Clamps to the range, stores and repaints.
    void SetPosition(int nPosition);

    // x of the knob's centre for a position, and the position for a knob centre x.
    int PosToPixel(int nPosition) const;
    int PixelToPos(int x) const;

    // A 1-bit mask of the picture: 1 where its colour equals the top-left pixel's. Those
    // pixels of the picture are turned black.
    static QImage MakeMask(QImage& picture);
    // Draws a picture whose see-through pixels the mask marks: the destination stays where
    // the mask is 1, the picture shows where it is 0.
    static void DrawMasked(QPainter& dc, int x, int y, const QImage& picture, const QImage& mask,
                           int sx, int sy, int cx, int cy);

    // Set by callers.
    int m_nRangeMax = 100;
    int m_nRangeMin = 0;
    int m_nPosition = 0;
    int m_nPageStep = 20;
    QRect m_rcClient;
    int m_cxTrack = 0;
    int m_cyTrack = 0;
    int m_cxKnob = 0;
    int m_cyKnob = 0;
    int m_nMarginLeft = 0;
    int m_nMarginRight = 0;
    int m_nMarginTop = 0;
    int m_nMarginBottom = 0;  // no effect on a horizontal slider
    QPoint m_ptUnderKnob{-1, -1};
    int m_nGrabOffset = 0;
    bool m_bFitLength = false;
    bool m_bFill = false;
    bool m_bKnobHot = false;
    bool m_bTransparentTrack = false;
    bool m_bTransparentKnob = false;
    bool m_bKnob = false;
    bool m_bTrack = false;
    bool m_bDragging = false;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;

private:
    void ReleaseTrack();
    void ReleaseKnob();
    void DragTo(int x);
    void DrawTrack(QPainter& dc);
    void DrawKnob(QPainter& dc);
    void NotifyParent(int nMsg, bool bSend);

    QImage m_bmpTrack, m_bmpTrackMask;
    QImage m_bmpFill, m_bmpFillMask;
    QImage m_bmpKnob, m_bmpKnobMask;
    QImage m_bmpKnobHot, m_bmpKnobHotMask;
    QImage m_bmpUnderKnob;
    QImage m_bmpKnobDisabled, m_bmpKnobDisabledMask;
};
