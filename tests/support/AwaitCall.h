#pragma once

#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <memory>

// Runs an asynchronous call and the event loop until its callback has run (or a generous
// bound has passed, which leaves `done` false), and hands back what the callback was given.
template <typename Failure, typename Result> struct Awaited {
    bool done = false;
    Failure failure;
    Result result;
};

template <typename Failure, typename Result>
Awaited<Failure, Result>
AwaitCall(const std::function<void(std::function<void(const Failure&, const Result&)>)>& call,
          int boundMs = 120000) {
    auto outcome = std::make_shared<Awaited<Failure, Result>>();
    auto loop = std::make_shared<QEventLoop>(); // a late callback still finds it
    call([outcome, loop](const Failure& failure, const Result& result) {
        if (outcome->done)
            return;
        outcome->done = true;
        outcome->failure = failure;
        outcome->result = result;
        loop->quit();
    });
    if (!outcome->done) {
        QTimer::singleShot(boundMs, loop.get(), &QEventLoop::quit);
        loop->exec();
    }
    return *outcome;
}
