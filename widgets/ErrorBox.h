#pragma once

#include <functional>

// Runs the body of something Qt calls (a slot, an event handler, a delegate hook) and shows any
// failure in the application's error box, so no exception ever crosses into Qt. Returns false
// when the body failed.
bool RunGuarded(const std::function<void()>& body);

#include <QObject>

// Connects a signal to a handler of the receiver that runs guarded. The signal's arguments are
// not passed on.
template <typename Sender, typename Signal, typename Receiver>
void ConnectGuarded(Sender* sender, Signal signal, Receiver* receiver,
                    void (Receiver::*handler)()) {
    QObject::connect(sender, signal, receiver,
                     [receiver, handler] { RunGuarded([&] { (receiver->*handler)(); }); });
}
