#include "CAboutDlg.h"

#include <QPixmap>

#include "DialogUnits.h"
#include "ResourceTable.h"

using DialogUnits::ToPixels;

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent),
      m_icon(this),
      m_textName(QStringLiteral("BrelsoPlayer 1.0 版"), this),
      m_textLine2(QStringLiteral("岚禾科技 视频监控流媒体播放器"), this),
      m_btnOk(QStringLiteral("确定"), this) {
    setWindowTitle(QStringLiteral("关于 BrelsoPlayer"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ToPixels(QSize(235, 55)));
    m_icon.setGeometry(ToPixels(11, 17, 20, 20));
    m_icon.setPixmap(QPixmap::fromImage(BrelsoRes::LoadIconImage(IDR_MAINFRAME)));
    m_textName.setGeometry(ToPixels(40, 10, 119, 8).adjusted(0, -2, 0, 2));
    m_textLine2.setGeometry(ToPixels(40, 25, 119, 8).adjusted(0, -2, 0, 2));
    m_btnOk.setGeometry(ToPixels(178, 7, 50, 16));
    m_btnOk.setDefault(true);
    connect(&m_btnOk, &QPushButton::clicked, this, &QDialog::accept);
}
