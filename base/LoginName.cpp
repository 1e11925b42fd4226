#include "base/LoginName.h"

#include "base/CorvantisError.h"

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

namespace uGeneral {

namespace {
std::function<QString()>& userNameOverride() {
    static std::function<QString()> source;
    return source;
}
} // namespace

QString SystemErrorMessage(int code) {
    return QStringLiteral("System Error.  Code: %1.\n%2")
        .arg(code)
        .arg(QString::fromLocal8Bit(std::strerror(code)));
}

QString CurrentUserName() {
    if (userNameOverride())
        return userNameOverride()();
    errno = 0;
    const struct passwd* entry = ::getpwuid(::geteuid());
    const int code = errno != 0 ? errno : ENOENT;
    return UserNameFrom(entry && entry->pw_name ? entry->pw_name : nullptr, code);
}

QString UserNameFrom(const char* databaseName, int lookupError) {
    if (databaseName && *databaseName)
        return QString::fromLocal8Bit(databaseName);
    // Containers often run under a user the password database does not know.
    for (const char* variable : {"USER", "LOGNAME"}) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
    throw CorvantisError(SystemErrorMessage(lookupError));
}

void SetCurrentUserNameForTesting(std::function<QString()> source) {
    userNameOverride() = std::move(source);
}

} // namespace uGeneral
