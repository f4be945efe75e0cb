#pragma once
// A board's operation as a job: its steps in order, each either one item set (the item read,
// compared with what is wanted and, where they differ, the item's plan run; an item whose read
// fails is left alone) or a plan run as it stands. Apply, the defaults and the hand-back to
// automatic control are all such jobs, so each can be dry-run and run beside other boards'. It
// stops at each pause of a plan.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "model/BoardBus.h"
#include "model/BoardJob.h"
#include "model/Plan.h"
#include "model/Settings.h"

template <typename Item>
struct JobStep {
    std::optional<Item> item;  // set this item to value; none: run plan
    std::int32_t value = 0;
    Plan plan;

    static JobStep Set(Item item, std::int32_t value) { return {item, value, {}}; }
    static JobStep Run(Plan plan) { return {std::nullopt, 0, std::move(plan)}; }
};

template <typename Item>
class SettingsJob final : public BoardJob {
public:
    using ReadItem = std::function<std::optional<std::int32_t>(Item)>;
    using PlanItem = std::function<Plan(Item, std::int32_t)>;

    SettingsJob(BoardBus& bus, std::vector<JobStep<Item>> steps, ReadItem read, PlanItem plan)
        : bus_(bus), steps_(std::move(steps)), read_(std::move(read)), plan_(std::move(plan)) {}

    bool Done() const override { return done_; }

    std::uint32_t Advance() override {
        while (!done_) {
            if (run_) {
                if (const std::uint32_t pause = run_->Advance(bus_)) return pause;
                Finish(*run_);
                run_.reset();
            }
            if (next_ >= steps_.size()) {
                done_ = true;
                break;
            }
            JobStep<Item>& step = steps_[next_++];
            if (!step.item) {
                run_.emplace(std::move(step.plan));
                continue;
            }
            const std::optional<std::int32_t> current = read_(*step.item);
            if (!current) {
                ++failures_;
                continue;
            }
            if (*current != step.value) run_.emplace(plan_(*step.item, step.value));
        }
        return 0;
    }

    // Every step of the plans run, in order.
    const std::vector<StepResult>& Results() const { return results_; }
    // Transfers that failed: reads of items and the plans' steps.
    std::size_t Failures() const { return failures_; }

private:
    void Finish(const PlanRun& run) {
        results_.insert(results_.end(), run.Results().begin(), run.Results().end());
        failures_ += run.Failures();
    }

    BoardBus& bus_;
    std::vector<JobStep<Item>> steps_;
    ReadItem read_;
    PlanItem plan_;
    std::size_t next_ = 0;
    std::optional<PlanRun> run_;
    std::vector<StepResult> results_;
    std::size_t failures_ = 0;
    bool done_ = false;
};

// What Apply sets: the wanted items in the board's order (boardOrder), except NVVDD while Auto
// hands it to the board; an item not read (a list without a choice) is left alone.
template <typename Item>
std::vector<JobStep<Item>> ApplyOrder(const Settings<Item>& wanted, const std::vector<Item>& boardOrder) {
    const bool automatic = wanted[Item::Auto].read && wanted[Item::Auto].value != 0;
    std::vector<JobStep<Item>> order;
    for (Item item : boardOrder) {
        if (item == Item::Nvvdd && automatic) continue;
        if (wanted[item].read) order.push_back(JobStep<Item>::Set(item, wanted[item].value));
    }
    return order;
}

// The job on a board's protocol, which reads one item (Read(Item)), plans its setting
// (SetPlan(Item, value)) and comes on another bus (On(bus)). Reads and plans both go on bus,
// which may be one that only pretends to write: a dry run's reads then see what its plans wrote.
template <typename Item, typename Protocol>
std::unique_ptr<SettingsJob<Item>> JobOn(BoardBus& bus, std::vector<JobStep<Item>> steps, const Protocol& protocol) {
    const std::shared_ptr onBus(protocol.On(bus));
    return std::make_unique<SettingsJob<Item>>(
        bus, std::move(steps), [onBus](Item item) { return onBus->Read(item); },
        [onBus](Item item, std::int32_t value) { return onBus->SetPlan(item, value); });
}
