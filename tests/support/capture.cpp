#include "capture.h"

#include <cstdio>
#include <unistd.h>

#include "zel_error.h"

namespace {

// Sends one descriptor to a temporary file for as long as it lives.
class Redirect {
  public:
    explicit Redirect(int fd) : fd_(fd), file_(tmpfile()), saved_(dup(fd)) {
        if (file_ && saved_ >= 0) dup2(fileno(file_), fd_);
    }
    ~Redirect() {
        restore();
        if (saved_ >= 0) close(saved_);
        if (file_) fclose(file_);
    }
    Redirect(const Redirect &) = delete;
    Redirect &operator=(const Redirect &) = delete;

    void restore() {
        if (saved_ >= 0 && !restored_) dup2(saved_, fd_);
        restored_ = true;
    }
    std::string text() {
        std::string data;
        if (!file_) return data;
        rewind(file_);
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, file_)) > 0)
            data.append(buf, n);
        return data;
    }

  private:
    int fd_;
    FILE *file_;
    int saved_;
    bool restored_ = false;
};

} // namespace

Captured capture(const std::function<void()> &fn) {
    Captured result;
    fflush(stdout);
    fflush(stderr);
    Redirect out(1), err(2);
    auto finish = [&] {
        fflush(stdout);
        fflush(stderr);
        clearerr(stdout);
        out.restore();
        err.restore();
        result.out = out.text();
        result.err = err.text();
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
