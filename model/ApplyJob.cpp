#include "model/ApplyJob.h"

ApplyJob::ApplyJob(BoardBus& bus, std::vector<Want> wanted, ReadItem read, PlanItem plan)
    : bus_(bus), wanted_(std::move(wanted)), read_(std::move(read)), plan_(std::move(plan)) {}

void ApplyJob::Finish(const PlanRun& run) {
    results_.insert(results_.end(), run.Results().begin(), run.Results().end());
    failures_ += run.Failures();
}

std::uint32_t ApplyJob::Advance() {
    while (!done_) {
        if (run_) {
            if (const std::uint32_t pause = run_->Advance(bus_)) return pause;
            Finish(*run_);
            run_.reset();
        }
        if (next_ >= wanted_.size()) {
            done_ = true;
            break;
        }
        const Want& want = wanted_[next_++];
        const std::optional<std::int32_t> current = read_(want.item);
        if (!current) {
            ++failures_;
            continue;
        }
        if (*current != want.value) run_.emplace(plan_(want.item, want.value));
    }
    return 0;
}
