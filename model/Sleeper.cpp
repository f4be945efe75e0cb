#include "model/Sleeper.h"

#include <chrono>
#include <thread>

void ThreadSleeper::Sleep(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
