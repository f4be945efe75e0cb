#include "model/BoardJob.h"

void RunToEnd(BoardJob& job, Sleeper& sleeper) {
    while (!job.Done())
        if (const std::uint32_t pause = job.Advance()) sleeper.Sleep(pause);
}

void RunSideBySide(const std::vector<BoardJob*>& jobs, Sleeper& sleeper) {
    // The time each job may go on, on a clock that moves only with the pauses: transfers take
    // time of their own, so every pause lasts at least as long as asked.
    std::vector<std::uint64_t> readyAt(jobs.size(), 0);
    std::uint64_t now = 0;
    for (;;) {
        std::size_t next = jobs.size();
        for (std::size_t i = 0; i < jobs.size(); ++i)
            if (!jobs[i]->Done() && (next == jobs.size() || readyAt[i] < readyAt[next])) next = i;
        if (next == jobs.size()) return;
        if (readyAt[next] > now) {
            sleeper.Sleep(static_cast<unsigned>(readyAt[next] - now));
            now = readyAt[next];
        }
        readyAt[next] = now + jobs[next]->Advance();
    }
}
