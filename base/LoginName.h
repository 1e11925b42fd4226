#pragma once

#include <QString>

#include <functional>

// The login name of the user running the program (unit uGeneral).
namespace uGeneral {

// The password database's entry for the user, else the USER, else the LOGNAME environment
// variable. Throws CorvantisError with "System Error.  Code: %d." and the system's description
// on a new line when none gives one.
QString CurrentUserName();
// The same choice made from the database's answer (nullptr: no entry, lookupError: why).
QString UserNameFrom(const char* databaseName, int lookupError);
// The text of a failed system call as CurrentUserName reports it.
QString SystemErrorMessage(int code);
void SetCurrentUserNameForTesting(std::function<QString()> source);

} // namespace uGeneral
