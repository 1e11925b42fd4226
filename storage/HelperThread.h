#pragma once

#include <functional>
#include <thread>

// Starts the short-lived helper threads of the list file's reading and saving. Throws
// std::system_error when no thread can be had, as std::thread does; every caller then does the
// work on its own thread. Tests can make every start fail, to check those fall-backs.
namespace HelperThread {

std::thread Start(std::function<void()> work);

void SetStartFailsForTesting(bool fails);

} // namespace HelperThread
