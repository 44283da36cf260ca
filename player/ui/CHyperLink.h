// A static text that acts as a link: blue until opened, the highlight colour while the
// pointer is over it, purple once opened; a click opens its target in the web browser.
#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <functional>
#include <optional>

class CHyperLink : public QLabel {
    Q_OBJECT
public:
    // Opens an address; returns a result code: greater than 32 on success, otherwise the
    // code of the error.
    using Opener = std::function<int(const QString& strTarget)>;

    explicit CHyperLink(QWidget* pParent = nullptr);
    ~CHyperLink() override;

    // Takes over the control once it has its text, font and place in the dialog.
    void Attach();
    void SetTarget(const QString& strTarget);
    void SetUnderlined(bool bUnderlined);
    // Replaces the way the target is opened (the desktop's URL handler by default).
    void SetOpener(Opener fnOpener);
    // Opens the target as a click does.
    void OpenLink();

    // Text colour for the current state.
    QColor CurrentColor() const;
    bool IsHover() const { return m_bHover; }
    bool IsOpened() const { return m_bOpened; }
    const QString& Target() const { return m_strTarget; }

    // The text shown when opening failed with nCode.
    static QString ErrorText(int nCode);
    static QString ErrorMessage(int nCode);

    QColor m_clrLink{0, 0, 238};
    QColor m_clrVisited{85, 26, 139};
    QColor m_clrHover;
    bool m_bHover = false;
    bool m_bOpened = false;
    bool m_bUnderlined = true;
    bool m_bFitToText = true;

protected:
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    void FitToText();
    void ApplyColor();
    void ReportError(int nCode);

    QString m_strTarget;
    QFont m_fontLink;
    std::optional<QCursor> m_hHandCursor;
    Opener m_fnOpener;
    bool m_bAttached = false;
};
