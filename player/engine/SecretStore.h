// Camera passwords in the desktop's secret store (the Secret Service, through libsecret),
// filed under the camera's address without its password. Where the desktop offers no secret
// store, nothing is kept and lookups find nothing.
//
// Threads: the window thread; each call may wait briefly for the session bus.
#pragma once

#include <QString>
#include <optional>

namespace SecretStore {

// Whether a secret store can be asked at all (a session bus is there).
bool Available();
// Keeps strSecret for strKey; false when there is no secret store or it refused.
bool Store(const QString& strKey, const QString& strSecret);
// The secret kept for strKey, if any.
std::optional<QString> Lookup(const QString& strKey);

}  // namespace SecretStore
