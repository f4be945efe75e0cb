#pragma once
// Pauses a device on the bus needs between transfers (the RTX 3080 Ti board's MCU after each
// setting). The program sleeps for real; tests and the simulator move a clock instead.

class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void Sleep(unsigned milliseconds) = 0;
};

class ThreadSleeper final : public Sleeper {
public:
    void Sleep(unsigned milliseconds) override;
};
