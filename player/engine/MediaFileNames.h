// Names and folders of the snapshot (".jpg") and recording (".qf") files.
#pragma once

#include <QDateTime>
#include <QString>

namespace MediaFileNames {

// "YYYY-MM-DD-hh-mm-ss" of the given local time; the year padded with spaces to four
// characters, the other parts with zeros to two.
QString TimeStampName(const QDateTime& localTime);

// The folder itself, or the user's desktop directory when it is empty (not created when it
// is missing). Empty when there is no desktop directory.
QString ResolveFolder(const QString& folder);

// folder/stem.extension, or, when such a file exists already, the first free
// folder/stem-N.extension for N = 1, 2, ...; the path uses the platform's separators.
// Empty when the folder is empty or no free name was found.
QString FreePath(const QString& folder, const QString& stem, const QString& extension);

// Path of a new snapshot taken at `localTime`: "<folder>/YYYY-MM-DD-hh-mm-ss.jpg".
QString SnapshotPath(const QString& folder, const QDateTime& localTime);

// Path of a new recording started at `localTime`: "<folder>/YYYY-MM-DD-hh-mm-ss.qf".
QString RecordingPath(const QString& folder, const QDateTime& localTime);

}  // namespace MediaFileNames
