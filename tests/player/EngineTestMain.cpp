// Runs the engine tests with a home folder of their own, so the desktop folder where
// snapshots and recordings go is a fresh, empty test folder of this process.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/engine-home-XXXXXX"));
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot create a home folder for the tests\n");
        return 1;
    }
    const QByteArray homePath = QFile::encodeName(home.path());
    setenv("HOME", homePath.constData(), 1);
    setenv("XDG_CONFIG_HOME", (homePath + "/.config").constData(), 1);
    if (!QDir(home.path()).mkpath(QStringLiteral("Desktop"))) return 1;
    return RUN_ALL_TESTS();
}
