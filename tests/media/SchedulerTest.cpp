// TaskScheduler: delayed tasks, cancelling, and waking the loop from other threads.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "LoopHarness.h"
#include "UsageEnvironment.h"

using namespace kx::media;
using namespace kx::media::test;

namespace {

TEST(TaskSchedulerTest, RunsDelayedTasksInTimeOrder) {
    LoopHarness h;
    std::vector<int> order;
    h.after(30000, [&] {
        order.push_back(3);
        h.stop();
    });
    h.after(10000, [&] { order.push_back(1); });
    h.after(20000, [&] { order.push_back(2); });
    ASSERT_TRUE(h.run());
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(TaskSchedulerTest, UnscheduledTaskNeverRuns) {
    LoopHarness h;
    static bool ran;
    ran = false;
    TaskToken token = h.scheduler.scheduleDelayedTask(
        1000, [](void*) { ran = true; }, nullptr);
    ASSERT_NE(token, nullptr);
    h.scheduler.unscheduleDelayedTask(token);
    EXPECT_EQ(token, nullptr);
    h.scheduler.unscheduleDelayedTask(token);  // harmless twice
    h.after(20000, [&] { h.stop(); });
    ASSERT_TRUE(h.run());
    EXPECT_FALSE(ran);
}

TEST(TaskSchedulerTest, StaleTokenOfARunTaskIsHarmless) {
    LoopHarness h;
    TaskToken token = h.scheduler.scheduleDelayedTask(
        0, [](void* p) { static_cast<LoopHarness*>(p)->stop(); }, &h);
    ASSERT_TRUE(h.run());
    // The task ran; its token no longer names anything.
    h.scheduler.unscheduleDelayedTask(token);
    EXPECT_EQ(token, nullptr);
}

TEST(TaskSchedulerTest, WakeupFromAnotherThreadEndsAnIdleLoop) {
    // No task is due and no socket is watched: only the wakeup can end the loop.
    TaskScheduler scheduler;
    std::atomic<char> watch{0};
    std::promise<void> started;
    auto loopEnded = std::async(std::launch::async, [&] {
        started.set_value();
        scheduler.doEventLoop(&watch);
    });
    started.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it block in poll
    watch = 1;
    scheduler.wakeup();
    // A generous guard against a hang, not a measure of promptness.
    ASSERT_EQ(loopEnded.wait_for(std::chrono::seconds(30)), std::future_status::ready);
}

TEST(TaskSchedulerTest, TriggerEventRunsOnTheLoopThread) {
    TaskScheduler scheduler;
    std::atomic<char> watch{0};
    struct Ctx {
        std::thread::id loopThread;
        std::thread::id ranOn;
        std::atomic<char>* watch;
    } ctx{{}, {}, &watch};
    auto loop = std::async(std::launch::async, [&] {
        ctx.loopThread = std::this_thread::get_id();
        scheduler.doEventLoop(&watch);
    });
    scheduler.triggerEvent(
        [](void* p) {
            auto* c = static_cast<Ctx*>(p);
            c->ranOn = std::this_thread::get_id();
            *c->watch = 1;
        },
        &ctx);
    ASSERT_EQ(loop.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(ctx.ranOn, ctx.loopThread);
}

TEST(TaskSchedulerTest, HandlerMayScheduleAndCancelTasks) {
    LoopHarness h;
    static TaskToken other;
    static int count;
    count = 0;
    // Far enough out that a loaded machine cannot run it before the cancel.
    other = h.scheduler.scheduleDelayedTask(
        300000, [](void*) { count += 100; }, nullptr);
    h.after(1000, [&] {
        h.scheduler.unscheduleDelayedTask(other);
        h.after(1000, [&] {
            ++count;
            h.stop();
        });
    });
    ASSERT_TRUE(h.run());
    h.after(400000, [&] { h.stop(); });
    ASSERT_TRUE(h.run());
    EXPECT_EQ(count, 1);
}

}  // namespace
