// THelperThread: runs a job on a second thread while the caller goes on. Join waits for it and
// rethrows what it raised; the destructor waits too, so the job never outlives what it uses.
// Used by the vector index (its building and its searches) and by whoever orders a pass's hits
// beside it.
// Thread safety: Join from the thread that made it.
#pragma once

#include <exception>
#include <thread>

class THelperThread {
public:
    template <class Job>
    explicit THelperThread(Job job)
        : fthread([this, job]() mutable {
              try {
                  job();
              } catch (...) {
                  ferror = std::current_exception();
              }
          }) {}
    THelperThread(const THelperThread&) = delete;
    THelperThread& operator=(const THelperThread&) = delete;
    ~THelperThread() {
        if (fthread.joinable()) fthread.join();
    }

    void Join() {
        fthread.join();
        if (ferror) std::rethrow_exception(ferror);
    }

private:
    std::exception_ptr ferror;
    std::thread fthread;
};

