#include "widgets/ErrorBox.h"

#include "base/CorvantisError.h"
#include "widgets/Prompt.h"

#include <QString>

#include <exception>

bool RunGuarded(const std::function<void()>& body) {
    try {
        body();
        return true;
    } catch (const CorvantisError& error) {
        Prompt::Error(error.message());
    } catch (const std::bad_alloc&) {
        Prompt::Error(QStringLiteral("Out of memory"));
    } catch (const std::exception& error) {
        Prompt::Error(QString::fromLocal8Bit(error.what()));
    }
    return false;
}
