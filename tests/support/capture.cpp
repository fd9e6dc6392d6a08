#include "capture.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "al_stop.h"
#include "zel_error.h"

Captured capture(const std::function<void()> &fn) {
    Captured result;
    // The runtime library ends the run as the commands make it end.
    al_set_stop(stop);
    fflush(stdout);
    fflush(stderr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    auto finish = [&] {
        fflush(stdout);
        fflush(stderr);
        clearerr(stdout);
        result.out = testing::internal::GetCapturedStdout();
        result.err = testing::internal::GetCapturedStderr();
    };
    try {
        fn();
    } catch (const StopRun &s) {
        result.stopped = true;
        result.status = s.status;
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return result;
}
