#include "PlayerSettings.h"

#include <QSettings>
#include <string>

#include "NarrowText.h"
#include "SecretStore.h"
#include "StreamAddress.h"

namespace PlayerSettings {
namespace {

const QString kScheme = QStringLiteral("rtsp://");

QSettings OpenSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Brelso"),
                     QStringLiteral("BrelsoPlayer"));
}

// The address as it may be written to the settings file; its password goes to the secret
// store when there is one.
QString Storable(const QString& strAddress) {
    QString strPassword;
    const QString strPlain = WithoutPassword(strAddress, &strPassword);
    if (!strPassword.isEmpty()) SecretStore::Store(strPlain, strPassword);
    return strPlain;
}

// A stored address with the password the secret store keeps for it.
QString Usable(const QString& strStored) {
    if (!strStored.startsWith(kScheme) || strStored.indexOf(QLatin1Char('@')) < 0) {
        return strStored;
    }
    const std::optional<QString> password = SecretStore::Lookup(strStored);
    return password ? WithPassword(strStored, *password) : strStored;
}

const char* TypeName(SourceType type) {
    switch (type) {
        case SourceType::Stream:
            return "stream";
        case SourceType::File:
            return "file";
        case SourceType::None:
            break;
    }
    return "none";
}

}  // namespace

QString WithoutPassword(const QString& strAddress, QString* pPassword) {
    if (pPassword != nullptr) pPassword->clear();
    std::string strNarrow;
    if (!ToNarrowText(strAddress, strNarrow)) return strAddress;
    const std::optional<StreamAddress> address = SplitStreamAddress(strNarrow);
    // Only the two forms "user:password@" carry a password; it runs from the first ":" after
    // the scheme to the first "@" after that.
    if (!address || (address->nPattern != 1 && address->nPattern != 2)) return strAddress;
    const qsizetype nColon = strAddress.indexOf(QLatin1Char(':'), kScheme.size());
    const qsizetype nAt = strAddress.indexOf(QLatin1Char('@'), nColon + 1);
    if (nColon < 0 || nAt < 0) return strAddress;
    if (pPassword != nullptr) *pPassword = strAddress.mid(nColon + 1, nAt - nColon - 1);
    return strAddress.left(nColon) + strAddress.mid(nAt);
}

QString WithPassword(const QString& strAddress, const QString& strPassword) {
    const qsizetype nAt = strAddress.indexOf(QLatin1Char('@'), kScheme.size());
    if (strPassword.isEmpty() || !strAddress.startsWith(kScheme) || nAt < 0) return strAddress;
    return strAddress.left(nAt) + QLatin1Char(':') + strPassword + strAddress.mid(nAt);
}

QStringList StreamHistory() {
    QSettings settings = OpenSettings();
    QStringList history;
    for (const QString& strStored :
         settings.value(QStringLiteral("streams/history")).toStringList()) {
        if (history.size() == kHistorySize) break;
        if (!strStored.isEmpty()) history << Usable(strStored);
    }
    return history;
}

void AddToStreamHistory(const QString& strAddress) {
    const QString strStored = Storable(strAddress.trimmed());
    if (strStored.isEmpty()) return;
    QSettings settings = OpenSettings();
    QStringList history = settings.value(QStringLiteral("streams/history")).toStringList();
    history.removeAll(strStored);
    history.prepend(strStored);
    while (history.size() > kHistorySize) history.removeLast();
    settings.setValue(QStringLiteral("streams/history"), history);
}

Session LoadSession() {
    QSettings settings = OpenSettings();
    Session session;
    for (size_t i = 0; i < session.windows.size(); ++i) {
        settings.beginGroup(QStringLiteral("window%1").arg(i));
        const QString strType = settings.value(QStringLiteral("type")).toString();
        WindowSource& source = session.windows[i];
        source.strSource = settings.value(QStringLiteral("source")).toString();
        source.bTcp = settings.value(QStringLiteral("tcp"), 0).toInt() != 0 ? 1 : 0;
        if (strType == QLatin1String("stream")) {
            source.type = SourceType::Stream;
            source.strSource = Usable(source.strSource);
        } else if (strType == QLatin1String("file")) {
            source.type = SourceType::File;
        }
        if (source.strSource.isEmpty()) source.type = SourceType::None;
        settings.endGroup();
    }
    const int nCurrent = settings.value(QStringLiteral("windows/current"), 0).toInt();
    session.nCurrent = nCurrent >= 0 && nCurrent < 4 ? nCurrent : 0;
    return session;
}

void SaveSession(const Session& session) {
    QSettings settings = OpenSettings();
    for (size_t i = 0; i < session.windows.size(); ++i) {
        const WindowSource& source = session.windows[i];
        settings.beginGroup(QStringLiteral("window%1").arg(i));
        settings.setValue(QStringLiteral("type"), QLatin1String(TypeName(source.type)));
        settings.setValue(QStringLiteral("source"), source.type == SourceType::Stream
                                                        ? Storable(source.strSource)
                                                        : source.strSource);
        settings.setValue(QStringLiteral("tcp"), source.bTcp);
        settings.endGroup();
    }
    settings.setValue(QStringLiteral("windows/current"), session.nCurrent);
}

}  // namespace PlayerSettings
