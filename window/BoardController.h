#pragma once
// The window's adapter between one board and the panel: it runs the board's jobs and shows what
// the board reads back through the presenter. One adapter serves every family; the RTX 3080 Ti's
// two boards (through the MCU, at the regulators) differ only in the board's protocol.
//
// It is made for a board detection found. Before the first Activate that found the controller
// window it has no panel, and every operation but IsDetected and GetFamily does nothing.
#include <memory>
#include <optional>
#include <utility>

#include "boards/FamilyBoard.h"
#include "boards/ProfileReader.h"
#include "boards/Rtx2080TiFamily.h"
#include "boards/Rtx3080TiFamily.h"
#include "dialog/ControlPanel.h"
#include "model/BoardJob.h"
#include "model/Sleeper.h"
#include "profile/ProfileStore.h"
#include "window/IVgaControl.h"
#include "window/PanelMaps.h"
#include "window/PanelPresenter.h"

template <typename Family>
class BoardController final : public IVgaControl {
public:
    using Item = typename Family::Item;
    using BoardSettings = Settings<Item>;
    using Board = FamilyBoard<Family>;

    BoardController(std::unique_ptr<Board> board, PanelSource& panels, Sleeper& sleeper, ProfileStore& profiles)
        : board_(std::move(board)),
          panels_(panels),
          sleeper_(sleeper),
          profiles_(profiles),
          presenter_(Family::Table(), PanelMapOf<Family>()) {}

    bool IsDetected() const override { return true; }

    void Activate() override {
        ControlPanel* panel = panels_.ControllerPanel();
        if (!panel) return;
        panel_ = panel;
        presenter_.Configure(*panel, auto_);
        Refresh();
    }

    void OnSliderMoved(int controlId) override {
        if (panel_) presenter_.ShowSliderText(*panel_, controlId);
    }

    void Apply() override {
        if (panel_) ApplySettings(presenter_.Wanted(*panel_, auto_));
    }

    std::optional<WantedSettings> Wanted() const override {
        if (!panel_) return std::nullopt;
        return WantedSettings(presenter_.Wanted(*panel_, auto_));
    }

    void Apply(const WantedSettings& wanted) override {
        if (const auto* settings = std::get_if<BoardSettings>(&wanted)) ApplySettings(*settings);
        else Apply();
    }

    void LoadDefaults() override {
        if (!panel_) return;
        RunToEnd(*board_->Defaults(), sleeper_);
        Refresh();
    }

    void OnTimerTick() override {}

    void SetAuto(bool checked) override {
        if (!panel_ || checked == auto_) return;
        auto_ = checked;
        // The slider the flag disables, as the family's table says.
        panel_->Enable(presenter_.ControlOf(*Family::Table().Of(Item::Auto).disables), !checked);
        // Unchecking writes nothing: the board keeps control until Apply sets a fixed voltage.
        if (!checked) return;
        RunToEnd(*board_->Auto(), sleeper_);
        if (const std::optional<std::int32_t> code = board_->Read(Item::Nvvdd)) ShowValue(Item::Nvvdd, *code);
    }

    int GetFamily() const override { return Family::kId; }

    std::optional<LoadedProfile> LoadProfile() override {
        if constexpr (!Family::kHasProfile) {
            return std::nullopt;
        } else {
            if (!panel_) return std::nullopt;
            // The window shows no message: what the profile's warnings tell is the command line's to print.
            const Rtx3080TiProfile profile = ReadRtx3080TiProfile(profiles_, Family::ProfileSectionName());
            if (profile.found != SectionFound::Found) return std::nullopt;
            for (const ItemTraits<Item>& t : Family::Table().items) ShowValue(t.item, profile.stored[t.item].value);
            return LoadedProfile{presenter_.AsHeld(*panel_, profile.stored), profile.sync};
        }
    }

    void SaveProfile(bool sync) override {
        if constexpr (Family::kHasProfile) {
            if (!panel_) return;
            BoardSettings read;
            for (Item item : Family::ProfileOrder())
                if (const std::optional<std::int32_t> value = board_->Read(item)) read[item] = Setting::Of(*value);
            // A file that cannot be written is not reported.
            profiles_.WriteSection(Family::ProfileSectionName(), Family::ToProfile(read, sync));
        }
    }

    bool IsAuto() const { return auto_; }

private:
    // The Auto flag is this board's own, as the panel shows it.
    void ApplySettings(BoardSettings wanted) {
        if (!panel_) return;
        wanted[Item::Auto] = Setting::Of(auto_ ? 1 : 0);
        RunToEnd(*board_->Apply(wanted), sleeper_);
        Refresh();
    }

    // The board read into the panel. An unreadable Auto flag shows as off; an item not read keeps
    // what its control showed.
    void Refresh() {
        const BoardSettings read = board_->ReadAll();
        const Setting& automatic = read[Item::Auto];
        ShowValue(Item::Auto, automatic.read && automatic.value != 0 ? 1 : 0);
        for (Item item : Family::Table().readOrder)
            if (item != Item::Auto && read[item].read) ShowValue(item, read[item].value);
    }

    void ShowValue(Item item, std::int32_t value) {
        if (item == Item::Auto) auto_ = value != 0;
        presenter_.Show(*panel_, item, value);
    }

    std::unique_ptr<Board> board_;
    PanelSource& panels_;
    Sleeper& sleeper_;
    ProfileStore& profiles_;
    PanelPresenter<Item> presenter_;
    ControlPanel* panel_ = nullptr;
    bool auto_ = false;
};

// The RTX 2080 Ti's controller, and that of either RTX 3080 Ti board.
using Rtx2080TiZyl = BoardController<Rtx2080TiFamily>;
using Rtx3080TiControl = BoardController<Rtx3080TiFamily>;
