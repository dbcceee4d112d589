// The work shared with a second core behaves as the serial loop: every item
// once, the lowest failure wins, and what lies below it has run.

#include "convert/SharedWork.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace
{

TEST(SharedWork, EveryItemRunsOnce)
{
    for (const bool helper : {false, true})
    {
        std::vector<std::atomic<int>> runs(5000);
        const SharedWorkResult result = shareWork(runs.size(), helper, [&runs](std::size_t i, int) {
            ++runs[i];
            return true;
        });
        EXPECT_EQ(result.failed, runs.size());
        EXPECT_FALSE(result.stopped);
        for (const auto& count : runs)
            ASSERT_EQ(count.load(), 1);
    }
}

TEST(SharedWork, TheLowestFailureIsReportedWithEverythingBelowItDone)
{
    // Failures at 700 (false) and 300 (false or a throw), whichever thread meets them first.
    for (const bool throwAtLower : {false, true})
    {
        std::vector<std::atomic<int>> runs(2000);
        const auto item = [&runs, throwAtLower](std::size_t i, int) {
            ++runs[i];
            if (i == 300 && throwAtLower)
                throw std::runtime_error("item 300");
            return i != 300 && i != 700;
        };
        if (throwAtLower)
        {
            EXPECT_THROW(shareWork(runs.size(), true, item), std::runtime_error);
        }
        else
        {
            const SharedWorkResult result = shareWork(runs.size(), true, item);
            EXPECT_EQ(result.failed, 300u);
        }
        for (std::size_t i = 0; i <= 300; ++i)
            ASSERT_EQ(runs[i].load(), 1) << i;
    }

    // A false below a throw: no exception.
    const SharedWorkResult result = shareWork(1000, true, [](std::size_t i, int) {
        if (i == 900)
            throw std::runtime_error("item 900");
        return i != 100;
    });
    EXPECT_EQ(result.failed, 100u);
}

TEST(SharedWork, AStopTakesNoFurtherItem)
{
    int asked = 0;
    int ran = 0;
    const SharedWorkResult alone = shareWork(
        100, false, [&ran](std::size_t, int) { return ++ran > 0; }, [&asked] { return ++asked == 3; });
    EXPECT_TRUE(alone.stopped);
    EXPECT_EQ(alone.failed, 100u);
    EXPECT_EQ(ran, 2);

    // The helper's first item waits for the question; after the stop it takes no other.
    std::atomic<bool> stopAsked{false};
    std::atomic<int> helped{0};
    const SharedWorkResult shared = shareWork(
        100, true,
        [&](std::size_t, int) {
            while (!stopAsked)
                std::this_thread::yield();
            ++helped;
            return true;
        },
        [&stopAsked] {
            stopAsked = true;
            return true;
        });
    EXPECT_TRUE(shared.stopped);
    EXPECT_LE(helped.load(), 1);
}

} // namespace
