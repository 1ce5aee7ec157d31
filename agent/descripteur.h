#pragma once
// A file descriptor closed when it goes out of scope; ownership is unique.
#include <unistd.h>

namespace vimba {

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace vimba
