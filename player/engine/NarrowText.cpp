#include "NarrowText.h"

#include <QByteArray>
#include <QFile>

bool ToNarrowText(const QString& wide, std::string& out) {
    out.clear();
    const QByteArray narrow = QFile::encodeName(wide);
    if (narrow.size() > static_cast<qsizetype>(kNarrowTextMaxLength)) return false;
    if (narrow.contains('\0')) return false;
    out.assign(narrow.constData(), static_cast<std::size_t>(narrow.size()));
    return true;
}
