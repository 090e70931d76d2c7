// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

#include "platform/Completion.h"
#include "platform/Task.h"
#include "tests/support/ManualMainActor.h"

namespace {

Task<int> answer(int value) {
    co_return value;
}

Task<int> failing() {
    throw std::runtime_error("broken");
    co_return 0;
}

struct DestructionFlag {
    bool& destroyed;
    ~DestructionFlag() { destroyed = true; }
};

// Awaits that complete without suspending must not grow the stack: a long chain of them in a
// loop has to finish under the sanitizers too.
TEST(Task, ChainsResultsWithoutGrowingTheStack) {
    ManualMainActor actor;
    long total = 0;
    auto loop = [&]() -> Task<void> {
        for (int i = 0; i < 100000; ++i) {
            total += co_await answer(1);
        }
    };
    const TaskHandle handle = actor.spawn(loop());
    actor.runUntilIdle();
    EXPECT_TRUE(handle.isFinished());
    EXPECT_EQ(total, 100000);
}

TEST(Task, AnExceptionReachesTheAwaiterElseTheSpawnedTasksHandle) {
    ManualMainActor actor;
    std::string caught;
    auto catching = [&]() -> Task<void> {
        try {
            co_await failing();
        } catch (const std::runtime_error& error) {
            caught = error.what();
        }
    };
    auto throwing = []() -> Task<void> { co_await failing(); };
    actor.spawn(catching());
    const TaskHandle handle = actor.spawn(throwing());
    actor.runUntilIdle();
    EXPECT_EQ(caught, "broken");
    ASSERT_TRUE(handle.isFinished());
    ASSERT_TRUE(handle.failure());
    EXPECT_THROW(std::rethrow_exception(handle.failure()), std::runtime_error);
}

// An answer that comes after the waiting task is gone, and its actor with it, is dropped: posting
// to the dead actor would be a use-after-free, which AddressSanitizer reports.
TEST(Task, UnstartedAndUnfinishedTasksAreFreed) {
    bool unstartedDestroyed = false;
    auto body = [&]() -> Task<int> {
        DestructionFlag flag{unstartedDestroyed};
        co_return 1;
    };
    { Task<int> neverAwaited = body(); }
    EXPECT_FALSE(unstartedDestroyed) << "a task that never started has no locals yet";

    bool waiterDestroyed = false;
    std::function<void()> answerLater;
    auto actor = std::make_unique<ManualMainActor>();
    auto inner = [&]() -> Task<void> {
        DestructionFlag flag{waiterDestroyed};
        co_await waitForCompletion<void>(
            *actor, [&](CompletionHandler<void> done) { answerLater = [done] { done.resume(); }; });
    };
    auto outer = [&]() -> Task<void> { co_await inner(); };
    actor->spawn(outer());
    actor->runUntilIdle();
    ASSERT_TRUE(answerLater);
    actor.reset();
    EXPECT_TRUE(waiterDestroyed) << "the actor must destroy the frames of unfinished tasks";
    answerLater();
}

// The shape the pairing's record lookup has: a task that ends in `co_return co_await` on a start
// that keeps a value. Every copy of the value is released exactly once, also when the finished
// frame is freed; g++ 12 released the captures of a start written in place a second time there.
Task<int> keptUntilAnswered(MainActor& actor, std::shared_ptr<int> value,
                            std::function<void(int)>& answerLater) {
    auto start = [value, &answerLater](CompletionHandler<int> done) {
        answerLater = [done](int answer) { done.resume(answer); };
    };
    co_return co_await waitForCompletion<int>(actor, start) + *value;
}

TEST(Completion, AStartKeepingAValueReleasesItOnceWhenTheTaskIsFreed) {
    ManualMainActor actor;
    const auto value = std::make_shared<int>(40);
    std::function<void(int)> answerLater;
    int received = 0;
    auto waiting = [&]() -> Task<void> {
        received = co_await keptUntilAnswered(actor, value, answerLater);
    };
    actor.spawn(waiting());
    actor.runUntilIdle();
    EXPECT_GT(value.use_count(), 1) << "the waiting task holds its copies";
    ASSERT_TRUE(answerLater);
    answerLater(2);
    answerLater = nullptr;
    actor.runUntilIdle();
    EXPECT_EQ(received, 42);
    EXPECT_EQ(value.use_count(), 1) << "every copy released, none twice";
}

// The waiting task resumes through the main queue, also when the answer comes at once, and only
// the first answer counts.
TEST(Completion, ResumesThroughTheQueueWithTheFirstAnswerOrFailure) {
    ManualMainActor actor;
    std::function<void(int)> answerLater;
    std::optional<int> received;
    std::string error;
    auto waiting = [&]() -> Task<void> {
        received = co_await waitForCompletion<int>(actor, [&](CompletionHandler<int> done) {
            answerLater = [done](int value) { done.resume(value); };
        });
        co_await waitForCompletion<void>(actor,
                                         [](CompletionHandler<void> done) { done.resume(); });
        try {
            co_await waitForCompletion<QString>(actor, [](CompletionHandler<QString> done) {
                done.fail(std::make_exception_ptr(std::runtime_error("refused")));
                done.fail(std::make_exception_ptr(std::logic_error("second")));
            });
        } catch (const std::runtime_error& failure) {
            error = failure.what();
        }
    };
    actor.spawn(waiting());
    actor.runUntilIdle();
    ASSERT_TRUE(answerLater);
    answerLater(7);
    EXPECT_FALSE(received) << "the answer must come through the main queue, not inline";
    answerLater(8);
    actor.runUntilIdle();
    EXPECT_EQ(received, 7);
    EXPECT_EQ(error, "refused");
}

}  // namespace
