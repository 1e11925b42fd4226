#pragma once

#include <functional>

// Runs the body of something Qt calls (a slot, an event handler, a delegate hook) and shows any
// failure in the application's error box, so no exception ever crosses into Qt. Returns false
// when the body failed.
bool RunGuarded(const std::function<void()>& body);
