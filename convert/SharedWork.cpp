#include "convert/SharedWork.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

struct SharedWork::Run
{
    Run(std::size_t count, SharedItem item) : count(count), item(std::move(item)), failed(count) {}

    void fail(std::size_t i, std::exception_ptr error)
    {
        const std::lock_guard<std::mutex> lock(failureLock);
        if (i < failed)
        {
            failed = i;
            failure = error;
        }
        halt = true;
    }

    // Takes items until they run out, one fails or the run halts.
    void work(const std::function<bool()>* shouldStop, int worker)
    {
        while (!halt)
        {
            if (shouldStop != nullptr && *shouldStop && (*shouldStop)())
            {
                stopped = true;
                halt = true;
                return;
            }
            const std::size_t i = next++;
            if (i >= count)
                return;
            try
            {
                if (!item(i, worker))
                    fail(i, nullptr);
            }
            catch (...)
            {
                fail(i, std::current_exception());
            }
        }
    }

    const std::size_t count;
    const SharedItem item;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> halt{false};
    bool stopped = false;  // written by the creating thread only
    std::mutex failureLock;
    std::size_t failed;
    std::exception_ptr failure;
    std::thread helper;
};

SharedWork::SharedWork(std::size_t count, bool useHelper, SharedItem item)
    : run(std::make_unique<Run>(count, std::move(item)))
{
    if (!useHelper || count < 2 || std::thread::hardware_concurrency() < 2)
        return;
    try
    {
        Run* shared = run.get();
        run->helper = std::thread([shared] { shared->work(nullptr, 1); });
    }
    catch (const std::system_error&)
    {
        // no thread to be had: finish() does it all
    }
}

SharedWork::~SharedWork()
{
    run->halt = true;
    if (run->helper.joinable())
        run->helper.join();
}

SharedWorkResult SharedWork::finish(const std::function<bool()>& shouldStop)
{
    run->work(&shouldStop, 0);
    if (run->helper.joinable())
        run->helper.join();
    if (run->failure)
        std::rethrow_exception(run->failure);
    return {run->failed, run->stopped};
}

SharedWorkResult shareWork(std::size_t count, bool useHelper, const SharedItem& item,
                           const std::function<bool()>& shouldStop)
{
    return SharedWork(count, useHelper, item).finish(shouldStop);
}
