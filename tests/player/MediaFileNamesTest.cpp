#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "MediaFileNames.h"

namespace {

const QDateTime kTime(QDate(2013, 7, 5), QTime(14, 3, 9));

bool Touch(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

TEST(MediaFileNames, TimeStampHasZeroPaddedParts) {
    EXPECT_EQ(MediaFileNames::TimeStampName(kTime), QStringLiteral("2013-07-05-14-03-09"));
    EXPECT_EQ(MediaFileNames::TimeStampName(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58))),
              QStringLiteral("2024-12-31-23-59-58"));
}

TEST(MediaFileNames, YearIsPaddedWithSpaces) {
    EXPECT_EQ(MediaFileNames::TimeStampName(QDateTime(QDate(999, 1, 2), QTime(3, 4, 5))),
              QStringLiteral(" 999-01-02-03-04-05"));
}

TEST(MediaFileNames, EmptyFolderMeansTheDesktopOfTheTestHome) {
    const QString desktop = MediaFileNames::ResolveFolder(QString());
    EXPECT_EQ(desktop, QDir::homePath() + QStringLiteral("/Desktop"));
    EXPECT_EQ(desktop, QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    EXPECT_EQ(MediaFileNames::ResolveFolder(QStringLiteral("/some/folder")),
              QStringLiteral("/some/folder"));
}

TEST(MediaFileNames, SnapshotAndRecordingGoToTheDesktop) {
    const QString desktop = QDir::homePath() + QStringLiteral("/Desktop");
    EXPECT_EQ(MediaFileNames::SnapshotPath(QString(), kTime),
              QDir::toNativeSeparators(desktop + QStringLiteral("/2013-07-05-14-03-09.jpg")));
    EXPECT_EQ(MediaFileNames::RecordingPath(QString(), kTime),
              QDir::toNativeSeparators(desktop + QStringLiteral("/2013-07-05-14-03-09.qf")));
}

TEST(MediaFileNames, ExistingNameGetsTheNextFreeSuffix) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString first = MediaFileNames::SnapshotPath(folder.path(), kTime);
    EXPECT_EQ(first, folder.filePath(QStringLiteral("2013-07-05-14-03-09.jpg")));
    ASSERT_TRUE(Touch(first));
    const QString second = MediaFileNames::SnapshotPath(folder.path(), kTime);
    EXPECT_EQ(second, folder.filePath(QStringLiteral("2013-07-05-14-03-09-1.jpg")));
    ASSERT_TRUE(Touch(second));
    EXPECT_EQ(MediaFileNames::SnapshotPath(folder.path(), kTime),
              folder.filePath(QStringLiteral("2013-07-05-14-03-09-2.jpg")));
    // Recordings are named apart from snapshots of the same second.
    EXPECT_EQ(MediaFileNames::RecordingPath(folder.path(), kTime),
              folder.filePath(QStringLiteral("2013-07-05-14-03-09.qf")));
    ASSERT_TRUE(Touch(folder.filePath(QStringLiteral("2013-07-05-14-03-09.qf"))));
    EXPECT_EQ(MediaFileNames::RecordingPath(folder.path(), kTime),
              folder.filePath(QStringLiteral("2013-07-05-14-03-09-1.qf")));
}

TEST(MediaFileNames, FreedNameIsUsedAgain) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString first = MediaFileNames::SnapshotPath(folder.path(), kTime);
    ASSERT_TRUE(Touch(first));
    ASSERT_TRUE(QFile::remove(first));
    EXPECT_EQ(MediaFileNames::SnapshotPath(folder.path(), kTime), first);
}

TEST(MediaFileNames, NoFolderGivesNoPath) {
    EXPECT_TRUE(
        MediaFileNames::FreePath(QString(), QStringLiteral("a"), QStringLiteral(".jpg")).isEmpty());
}

TEST(MediaFileNames, MissingFolderIsNotCreated) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString missing = folder.filePath(QStringLiteral("missing"));
    const QString path = MediaFileNames::SnapshotPath(missing, kTime);
    EXPECT_EQ(path, missing + QStringLiteral("/2013-07-05-14-03-09.jpg"));
    EXPECT_FALSE(QFileInfo::exists(missing));
}

}  // namespace
