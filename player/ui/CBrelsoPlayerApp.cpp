#include "CBrelsoPlayerApp.h"

#include <QLibraryInfo>
#include <QLocale>
#include <cstdio>
#include <optional>

#include "CBrelsoPlayerDlg.h"
#include "KXPlaySdk.h"
#include "KXRtspSdk.h"
#include "StartOptions.h"

CBrelsoPlayerApp::CBrelsoPlayerApp(int& argc, char** argv)
    : QApplication(argc, argv), m_calls(DefaultLibraryCalls()) {
    setApplicationName(QStringLiteral("BrelsoPlayer"));
    // Qt's own dialogs and buttons (file dialog, "OK" and "Cancel") speak the interface's
    // language. Without the translations installed they stay English.
    if (m_qtTranslator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                            QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        installTranslator(&m_qtTranslator);
    }
    // The dialogs are laid out for the 8-point dialog font.
    QFont font = QApplication::font();
    font.setPixelSize(12);
    setFont(font);
}

CBrelsoPlayerApp::LibraryCalls CBrelsoPlayerApp::DefaultLibraryCalls() {
    return {&KX_NET_Init, &KX_PLAY_Init, &KX_NET_Cleanup, &KX_PLAY_Cleanup};
}

int CBrelsoPlayerApp::InitInstance() {
    QString strError;
    const std::optional<StartOptions::Options> options =
        StartOptions::Parse(arguments(), &strError);
    if (!options) {
        std::fprintf(stderr, "BrelsoPlayer: %s\n%s", qPrintable(strError),
                     qPrintable(StartOptions::Usage()));
        return 2;
    }
    // The stream library without logging (level mask 0).
    if (m_calls.fnNetInit(0, 0, 0) == 0) {
        return 1;
    }
    if (m_calls.fnPlayInit(0) == 0) {
        m_calls.fnNetCleanup();
        m_calls.fnPlayCleanup();
        return 1;
    }
    {
        CBrelsoPlayerDlg dlg;
        // "--no-restore" starts with four idle windows, "--open" with the sources it names.
        if (options->bRestore) {
            dlg.RestoreSession();
        } else if (options->nOpened > 0) {
            dlg.OpenSession(options->session, true);
        }
        dlg.exec();
        // Destroying the main window closes all four plays.
    }
    m_calls.fnNetCleanup();
    m_calls.fnPlayCleanup();
    return 0;
}
