#pragma once

// A file descriptor another thread can make readable, so a peer thread blocked in poll()
// wakes up for queued work or a stop request.
class LabWakeSignal {
public:
    LabWakeSignal();
    ~LabWakeSignal();
    LabWakeSignal(const LabWakeSignal&) = delete;
    LabWakeSignal& operator=(const LabWakeSignal&) = delete;

    void raise();
    // Makes the descriptor unreadable again.
    void consume();
    int fd() const { return fd_; }

private:
    int fd_;
};
