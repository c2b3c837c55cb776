// A pipe whose ends close with it: for tests that talk to forked children.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

class Pipe {
  public:
    Pipe() {
        if (pipe(fds_) != 0)
            ADD_FAILURE() << "pipe";
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int Read() const { return fds_[0]; }
    int Write() const { return fds_[1]; }
    void CloseRead() { CloseEnd(0); }
    void CloseWrite() { CloseEnd(1); }

  private:
    void CloseEnd(int end) {
        if (fds_[end] >= 0)
            close(fds_[end]);
        fds_[end] = -1;
    }
    int fds_[2] = {-1, -1};
};
