// GLib's headers come before Qt's, whose "signals" keyword GDBus uses as a name.
#ifdef BRELSO_HAVE_LIBSECRET
#include <libsecret/secret.h>
#endif

#include <QtGlobal>

#include "SecretStore.h"

namespace SecretStore {

#ifdef BRELSO_HAVE_LIBSECRET
namespace {

constexpr const char* kAttribute = "address";

const SecretSchema* Schema() {
    static const SecretSchema s_schema = [] {
        SecretSchema schema{};
        schema.name = "com.brelso.BrelsoPlayer.Camera";
        schema.flags = SECRET_SCHEMA_NONE;
        schema.attributes[0].name = kAttribute;
        schema.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
        return schema;
    }();
    return &s_schema;
}

}  // namespace

bool Available() {
    // Without a session bus libsecret would try to start one.
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
}

bool Store(const QString& strKey, const QString& strSecret) {
    if (!Available()) return false;
    const QByteArray key = strKey.toUtf8();
    const QByteArray secret = strSecret.toUtf8();
    const QByteArray label = QStringLiteral("BrelsoPlayer: %1").arg(strKey).toUtf8();
    GError* pError = nullptr;
    const gboolean bStored = secret_password_store_sync(
        Schema(), SECRET_COLLECTION_DEFAULT, label.constData(), secret.constData(), nullptr,
        &pError, kAttribute, key.constData(), static_cast<char*>(nullptr));
    if (pError != nullptr) g_error_free(pError);
    return bStored != FALSE;
}

std::optional<QString> Lookup(const QString& strKey) {
    if (!Available()) return std::nullopt;
    const QByteArray key = strKey.toUtf8();
    GError* pError = nullptr;
    gchar* pSecret = secret_password_lookup_sync(Schema(), nullptr, &pError, kAttribute,
                                                 key.constData(), static_cast<char*>(nullptr));
    if (pError != nullptr) g_error_free(pError);
    if (pSecret == nullptr) return std::nullopt;
    const QString strSecret = QString::fromUtf8(pSecret);
    secret_password_free(pSecret);
    return strSecret;
}

#else

bool Available() {
    return false;
}

bool Store(const QString&, const QString&) {
    return false;
}

std::optional<QString> Lookup(const QString&) {
    return std::nullopt;
}

#endif

}  // namespace SecretStore
