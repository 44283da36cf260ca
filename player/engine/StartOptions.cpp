#include "StartOptions.h"

#include <string>

#include "NarrowText.h"
#include "StreamAddress.h"

namespace StartOptions {
namespace {

const QString kScheme = QStringLiteral("rtsp://");

// An address the stream dialog would take: it converts to narrow text and splits.
bool IsUsableAddress(const QString& strAddress) {
    std::string strNarrow;
    return ToNarrowText(strAddress, strNarrow) && SplitStreamAddress(strNarrow).has_value();
}

}  // namespace

std::optional<Options> Parse(const QStringList& arguments, QString* pError) {
    Options options;
    QString strError;
    for (qsizetype i = 1; i < arguments.size() && strError.isEmpty(); ++i) {
        const QString& strArg = arguments[i];
        if (strArg == QLatin1String("--no-restore")) {
            options.bRestore = false;
            continue;
        }
        const bool bTcp = strArg == QLatin1String("--open-tcp");
        if (!bTcp && strArg != QLatin1String("--open")) continue;
        if (i + 1 >= arguments.size() || arguments[i + 1].trimmed().isEmpty()) {
            strError = strArg + QStringLiteral(": a source is missing");
            break;
        }
        const QString strSource = arguments[++i].trimmed();
        if (options.nOpened == static_cast<int>(options.session.windows.size())) {
            // Named by position only: an address may hold a password.
            strError = QStringLiteral("more than four sources to open (the fifth is %1 %2)")
                           .arg(strArg)
                           .arg(strSource.startsWith(kScheme, Qt::CaseInsensitive)
                                    ? QStringLiteral("an address")
                                    : strSource);
            break;
        }
        const bool bStream = strSource.startsWith(kScheme, Qt::CaseInsensitive);
        if (bTcp && !bStream) {
            strError = QStringLiteral("--open-tcp takes an rtsp:// address: ") + strSource;
        } else if (bStream && !IsUsableAddress(strSource)) {
            // The address may hold a password: the message names the option alone.
            strError = strArg + QStringLiteral(": not a usable rtsp:// address");
        } else {
            PlayerSettings::WindowSource& source = options.session.windows[options.nOpened++];
            source.type =
                bStream ? PlayerSettings::SourceType::Stream : PlayerSettings::SourceType::File;
            source.strSource = strSource;
            source.bTcp = bTcp ? 1 : 0;
            options.bRestore = false;
        }
    }
    if (!strError.isEmpty()) {
        if (pError != nullptr) *pError = strError;
        return std::nullopt;
    }
    return options;
}

QString Usage() {
    return QStringLiteral(
        "usage: BrelsoPlayer [--no-restore] [--open SOURCE | --open-tcp ADDRESS]...\n"
        "  --no-restore        start with four idle windows\n"
        "  --open SOURCE       play SOURCE in the next window (up to four): an rtsp:// address\n"
        "                      (media over UDP) or a .qf recording or AVI file\n"
        "  --open-tcp ADDRESS  the same for an rtsp:// address, media over TCP\n");
}

}  // namespace StartOptions
