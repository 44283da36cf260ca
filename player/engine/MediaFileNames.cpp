#include "MediaFileNames.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTime>

namespace MediaFileNames {

namespace {
// Enough for any burst of snapshots a user can click within one second.
constexpr int kMaxSuffix = 9999;
}  // namespace

QString TimeStampName(const QDateTime& localTime) {
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    return QString::asprintf("%4d-%02d-%02d-%02d-%02d-%02d", date.year(), date.month(), date.day(),
                             time.hour(), time.minute(), time.second());
}

QString ResolveFolder(const QString& folder) {
    if (!folder.isEmpty()) return folder;
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}

QString FreePath(const QString& folder, const QString& stem, const QString& extension) {
    if (folder.isEmpty()) return {};
    const QString base = QDir(folder).filePath(stem);
    QString candidate = base + extension;
    for (int n = 1; QFileInfo::exists(candidate); ++n) {
        if (n > kMaxSuffix) return {};
        candidate = base + QLatin1Char('-') + QString::number(n) + extension;
    }
    return QDir::toNativeSeparators(candidate);
}

QString SnapshotPath(const QString& folder, const QDateTime& localTime) {
    return FreePath(ResolveFolder(folder), TimeStampName(localTime), QStringLiteral(".jpg"));
}

QString RecordingPath(const QString& folder, const QDateTime& localTime) {
    return FreePath(ResolveFolder(folder), TimeStampName(localTime), QStringLiteral(".qf"));
}

}  // namespace MediaFileNames
