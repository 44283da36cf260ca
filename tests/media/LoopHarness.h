// LoopHarness: a scheduler and environment whose event loop runs on the test's thread until
// the test calls stop() from a handler, or a generous watchdog ends a test that hangs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "UsageEnvironment.h"

namespace kx::media::test {

class LoopHarness {
public:
    LoopHarness() : env(scheduler) {}

    // Runs the loop; false when the watchdog had to end it.
    bool run(int64_t watchdogMicroseconds = 60000000) {
        watch = 0;
        timedOut = false;
        TaskToken dog = scheduler.scheduleDelayedTask(
            watchdogMicroseconds,
            [](void* p) {
                auto* self = static_cast<LoopHarness*>(p);
                self->timedOut = true;
                self->watch = 1;
            },
            this);
        scheduler.doEventLoop(&watch);
        scheduler.unscheduleDelayedTask(dog);
        return !timedOut;
    }
    void stop() { watch = 1; }

    // Runs fn on the loop thread after the delay.
    void after(int64_t microseconds, std::function<void()> fn) {
        auto* holder = new std::function<void()>(std::move(fn));
        scheduler.scheduleDelayedTask(
            microseconds,
            [](void* p) {
                auto* f = static_cast<std::function<void()>*>(p);
                (*f)();
                delete f;
            },
            holder);
    }

    TaskScheduler scheduler;
    UsageEnvironment env;
    std::atomic<char> watch{0};
    bool timedOut = false;
};

}  // namespace kx::media::test
