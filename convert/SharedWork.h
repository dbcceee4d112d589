#pragma once

// Pure computations (no file access, no messages) shared between the calling
// thread and one helper thread on a second core.

#include <cstddef>
#include <functional>
#include <memory>

struct SharedWorkResult
{
    std::size_t failed;  // lowest item that returned false or threw; count when none did
    bool stopped;        // shouldStop answered true before every item was taken
};

// item(i, worker) for one item i; worker is 0 on the creating thread and 1 on
// the helper, so that each may keep scratch space of its own. False: failed.
using SharedItem = std::function<bool(std::size_t, int)>;

// Runs item i once for each i in [0, count), handed out in ascending order;
// each item must touch only its own results. With a helper (asked for, and
// the machine has a second core) the helper starts taking items at once, and
// the creating thread joins in when it calls finish(), so it may do other
// work meanwhile. After a failure or a stop no further item is taken; every
// item below the lowest failure has run, as in a serial loop.
class SharedWork
{
public:
    SharedWork(std::size_t count, bool useHelper, SharedItem item);
    ~SharedWork();  // without finish(): takes no further item and waits for the helper

    SharedWork(const SharedWork&) = delete;
    SharedWork& operator=(const SharedWork&) = delete;

    // Takes items on this thread too until none is left, asking shouldStop
    // (when set) before each; waits for the helper. An exception of the lowest
    // failure is rethrown here. Call it once.
    SharedWorkResult finish(const std::function<bool()>& shouldStop = {});

private:
    struct Run;
    std::unique_ptr<Run> run;
};

// SharedWork(count, useHelper, item).finish(shouldStop).
SharedWorkResult shareWork(std::size_t count, bool useHelper, const SharedItem& item,
                           const std::function<bool()>& shouldStop = {});
