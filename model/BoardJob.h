#pragma once
// Work on one board that stops at each pause its devices need, so that one thread can run several
// boards' work side by side: while one board waits out a pause, the next board's transfers go.
#include <cstdint>
#include <vector>

#include "model/Sleeper.h"

class BoardJob {
public:
    virtual ~BoardJob() = default;
    virtual bool Done() const = 0;
    // Runs transfers up to the next pause and returns its length in ms; 0 once the work is done.
    virtual std::uint32_t Advance() = 0;
};

// Runs the job to its end, pausing with the sleeper.
void RunToEnd(BoardJob& job, Sleeper& sleeper);

// Runs the jobs side by side on this thread: always the job whose pause ended first, the earlier
// job of the list on a tie, sleeping only while every job waits. Each job keeps its own order and
// pauses at least as long as it asked, so the run takes about as long as its longest job.
void RunSideBySide(const std::vector<BoardJob*>& jobs, Sleeper& sleeper);
