#pragma once
// Pauses between MCU writes. The program sleeps for real; tests and the simulator record.

class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void Sleep(unsigned milliseconds) = 0;
};

class ThreadSleeper final : public Sleeper {
public:
    void Sleep(unsigned milliseconds) override;
};
