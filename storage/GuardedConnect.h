#pragma once

#include "shell/ErrorBox.h"

#include <QObject>

// Connects a signal to a handler of the receiver that runs guarded: a failure is shown in the
// error box and never thrown into Qt. The signal's arguments are not passed on.
template <typename Sender, typename Signal, typename Receiver>
void ConnectGuarded(Sender* sender, Signal signal, Receiver* receiver,
                    void (Receiver::*handler)()) {
    QObject::connect(sender, signal, receiver,
                     [receiver, handler] { RunGuarded([&] { (receiver->*handler)(); }); });
}
