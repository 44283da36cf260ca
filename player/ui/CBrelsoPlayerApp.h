// The application: starts both libraries, runs the main window modally and ends the program
// when it closes.
#pragma once

#include <QApplication>
#include <QTranslator>
#include <cstdint>

class CBrelsoPlayerApp : public QApplication {
    Q_OBJECT
public:
    // The library entry points the start and the end of the program use.
    struct LibraryCalls {
        int32_t (*fnNetInit)(int32_t, int32_t, int32_t);
        int32_t (*fnPlayInit)(int32_t);
        void (*fnNetCleanup)();
        void (*fnPlayCleanup)();
    };

    CBrelsoPlayerApp(int& argc, char** argv);

    // Reads the command line (StartOptions), starts the libraries and runs the main window;
    // returns the program's exit code (0 after the main window closed, 1 when a library could
    // not be started, 2 for a wrong command line, which starts nothing).
    int InitInstance();

    // The real libraries unless replaced (for checks of the start-up failure paths).
    static LibraryCalls DefaultLibraryCalls();
    void SetLibraryCalls(const LibraryCalls& calls) { m_calls = calls; }

private:
    LibraryCalls m_calls;
    QTranslator m_qtTranslator;
};
