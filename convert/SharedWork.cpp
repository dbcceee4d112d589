#include "convert/SharedWork.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace
{

struct Run
{
    std::atomic<std::size_t> next{0};
    std::atomic<bool> halt{false};
    std::mutex failureLock;
    std::size_t failed;
    std::exception_ptr failure;

    explicit Run(std::size_t count) : failed(count) {}

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
    void work(std::size_t count, const std::function<bool(std::size_t)>& item, const std::function<bool()>* shouldStop,
              bool& stopped)
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
                if (!item(i))
                    fail(i, nullptr);
            }
            catch (...)
            {
                fail(i, std::current_exception());
            }
        }
    }
};

} // namespace

SharedWorkResult shareWork(std::size_t count, bool useHelper, const std::function<bool(std::size_t)>& item,
                           const std::function<bool()>& shouldStop)
{
    Run run(count);
    bool stopped = false;
    std::thread helper;
    if (useHelper && count > 1 && std::thread::hardware_concurrency() > 1)
    {
        try
        {
            helper = std::thread([&run, count, &item] {
                bool unused = false;
                run.work(count, item, nullptr, unused);
            });
        }
        catch (const std::system_error&)
        {
            // no thread to be had: this one does it all
        }
    }
    run.work(count, item, &shouldStop, stopped);
    if (helper.joinable())
        helper.join();
    if (run.failure)
        std::rethrow_exception(run.failure);
    return {run.failed, stopped};
}
