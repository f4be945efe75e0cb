#pragma once
// Apply as a job: item by item in the order the board takes them, the item read, compared with
// what is wanted and, where they differ, the item's plan run. An item whose read fails is left
// alone. It stops at each pause of a plan.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "model/BoardBus.h"
#include "model/BoardJob.h"
#include "model/Plan.h"
#include "model/Settings.h"

class ApplyJob final : public BoardJob {
public:
    struct Want {
        int item;
        std::int32_t value;
    };
    using ReadItem = std::function<std::optional<std::int32_t>(int item)>;
    using PlanItem = std::function<Plan(int item, std::int32_t value)>;

    // wanted: the items to set, in the board's order; an item left out stays as it is.
    ApplyJob(BoardBus& bus, std::vector<Want> wanted, ReadItem read, PlanItem plan);

    bool Done() const override { return done_; }
    std::uint32_t Advance() override;

    // Every step of the plans run, in order.
    const std::vector<StepResult>& Results() const { return results_; }
    // Transfers that failed: reads of items and the plans' steps.
    std::size_t Failures() const { return failures_; }

private:
    void Finish(const PlanRun& run);

    BoardBus& bus_;
    std::vector<Want> wanted_;
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
std::vector<ApplyJob::Want> ApplyOrder(const Settings<Item>& wanted, const std::vector<Item>& boardOrder) {
    const bool automatic = wanted[Item::Auto].read && wanted[Item::Auto].value != 0;
    std::vector<ApplyJob::Want> order;
    for (Item item : boardOrder) {
        if (item == Item::Nvvdd && automatic) continue;
        if (wanted[item].read) order.push_back({static_cast<int>(item), wanted[item].value});
    }
    return order;
}

// The job on a board's protocol, which reads one item (Read(Item)), plans its setting
// (SetPlan(Item, value)) and comes on another bus (On(bus)). Reads and plans both go on bus,
// which may be one that only pretends to write: a dry run's reads then see what its plans wrote.
template <typename Item, typename Protocol>
std::unique_ptr<ApplyJob> ApplyJobOn(BoardBus& bus, std::vector<ApplyJob::Want> wanted, const Protocol& protocol) {
    const std::shared_ptr onBus(protocol.On(bus));
    return std::make_unique<ApplyJob>(
        bus, std::move(wanted), [onBus](int item) { return onBus->Read(static_cast<Item>(item)); },
        [onBus](int item, std::int32_t value) { return onBus->SetPlan(static_cast<Item>(item), value); });
}
