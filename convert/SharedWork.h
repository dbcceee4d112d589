#pragma once

// Pure computations (no file access, no messages) shared between the calling
// thread and one helper thread on a second core.

#include <cstddef>
#include <functional>

struct SharedWorkResult
{
    std::size_t failed;  // lowest item that returned false or threw; count when none did
    bool stopped;        // shouldStop answered true before every item was taken
};

// Runs item(i) once for each i in [0, count), handed out in ascending order to
// this thread and, when useHelper is true and the machine has a second core,
// one helper thread; each item must touch only its own results. shouldStop
// (when set) is asked on this thread before each item it takes. After a
// failure or a stop no further item is taken; every item below the lowest
// failure has run, as in a serial loop. An exception of that lowest failure
// is rethrown here.
SharedWorkResult shareWork(std::size_t count, bool useHelper, const std::function<bool(std::size_t)>& item,
                           const std::function<bool()>& shouldStop = {});
