#pragma once
// One board of a family: its register protocol on the bus it talks on, and the family's table. It
// reads its settings and makes Apply, the defaults and Auto (NVVDD handed back to automatic
// control) as jobs, on its own bus or on another (a dry run's), to be run alone or beside other
// boards' jobs.
//
// Family gives Item, Protocol, Table(), HandBack(protocol, rail) and AfterDefaults(protocol); for
// the window also kId (Sync reaches the boards of one family) and kHasProfile, with the profile's
// functions where it is true.
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "model/BoardBus.h"
#include "model/Plan.h"
#include "model/Settings.h"
#include "model/SettingsJob.h"

template <typename Family>
class FamilyBoard {
public:
    using Item = typename Family::Item;
    using BoardSettings = Settings<Item>;
    using Protocol = typename Family::Protocol;
    using Job = SettingsJob<Item>;
    using FamilyType = Family;

    // protocol talks on bus.
    FamilyBoard(std::unique_ptr<BoardBus> bus, std::unique_ptr<Protocol> protocol)
        : bus_(std::move(bus)), protocol_(std::move(protocol)) {}
    FamilyBoard(const FamilyBoard&) = delete;
    FamilyBoard& operator=(const FamilyBoard&) = delete;

    BoardBus& Bus() const { return *bus_; }

    // One read of one item, as the board reports it; nullopt when the read failed.
    std::optional<std::int32_t> Read(Item item) const { return protocol_->Read(item); }

    // Every item as the board reports it now, in the family's read order.
    BoardSettings ReadAll() const {
        BoardSettings settings;
        for (Item item : Family::Table().readOrder) {
            const std::optional<std::int32_t> value = Read(item);
            settings[item] = value ? Setting::Of(*value) : Setting::NotRead("the board did not answer");
        }
        return settings;
    }

    // The wanted settings, item by item in the family's order, each only where the board differs.
    std::unique_ptr<Job> Apply(const BoardSettings& wanted, BoardBus& bus) const {
        return JobOn<Item>(bus, ApplyOrder(wanted, Family::Table().applyOrder), *protocol_);
    }
    std::unique_ptr<Job> Apply(const BoardSettings& wanted) const { return Apply(wanted, Bus()); }

    // The family's defaults: each value only where the board differs, each automatic rail handed back.
    std::unique_ptr<Job> Defaults(BoardBus& bus) const {
        std::vector<JobStep<Item>> steps;
        for (const auto& d : Family::Table().defaults)
            steps.push_back(d.value ? JobStep<Item>::Set(d.item, *d.value)
                                    : JobStep<Item>::Run(Family::HandBack(*protocol_, d.item)));
        steps.push_back(JobStep<Item>::Run(Family::AfterDefaults(*protocol_)));
        return JobOn<Item>(bus, std::move(steps), *protocol_);
    }
    std::unique_ptr<Job> Defaults() const { return Defaults(Bus()); }

    // NVVDD handed back to automatic control.
    std::unique_ptr<Job> Auto(BoardBus& bus) const {
        return JobOn<Item>(bus, {JobStep<Item>::Run(Family::HandBack(*protocol_, Item::Nvvdd))}, *protocol_);
    }
    std::unique_ptr<Job> Auto() const { return Auto(Bus()); }

private:
    std::unique_ptr<BoardBus> bus_;
    std::unique_ptr<Protocol> protocol_;
};
