#include "storage/HelperThread.h"

#include <atomic>
#include <cerrno>
#include <system_error>

namespace HelperThread {

namespace {
std::atomic<bool> startFails{false};
} // namespace

std::thread Start(std::function<void()> work) {
    if (startFails)
        throw std::system_error(EAGAIN, std::generic_category(), "no thread for testing");
    return std::thread(std::move(work));
}

void SetStartFailsForTesting(bool fails) {
    startFails = fails;
}

} // namespace HelperThread
