// Runs code in this process and collects what it wrote to standard output and
// standard error, through the C library or straight to the descriptors.
#pragma once

#include <functional>
#include <string>

struct Captured {
    std::string out;
    std::string err;
    bool stopped = false; // the code ended the run (StopRun)
    int status = 0;       // the StopRun status when `stopped`
};

// Runs `fn` with descriptors 1 and 2 sent to temporary files and returns
// what was written. Both streams are flushed before and after; the
// descriptors are restored even when `fn` closes them. A StopRun is caught and
// recorded; any other exception is passed on after the restore.
Captured capture(const std::function<void()> &fn);
