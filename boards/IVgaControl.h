#pragma once
// What the controller window knows of a board: one implementation per supported board type.
#include <memory>
#include <utility>
#include <vector>

#include "boards/PanelPresenter.h"

class IVgaControl {
public:
    virtual ~IVgaControl() = default;

    virtual bool IsDetected() const = 0;
    virtual void Activate() = 0;
    virtual void OnSliderMoved(int controlId) = 0;
    virtual void Apply() = 0;
    virtual void LoadDefaults() = 0;
    virtual void OnTimerTick() = 0;
    virtual void SetAuto(bool checked) = 0;
    virtual int GetFamily() const = 0;
    virtual bool LoadProfile() = 0;
    virtual void SaveProfile() = 0;
    // The value fields, lists and the Auto box whose read failed when the board was last read into
    // the panel: they still show what they showed before (Auto shows off), not the board's value.
    virtual std::vector<int> UnreadControls() const = 0;
    // Reads the board now, without a panel, and gives each row as the window would show it.
    virtual std::vector<ShownSetting> ReadShown() = 0;

    // What the panel asks of the board now. Sync takes it once, from the selected board before
    // that board's Apply shows what it reads back, and hands the same request to every other board
    // of the family, so each gets what the user asked for.
    class Request {
    public:
        virtual ~Request() = default;
    };
    // A board family's request: the settings the panel asks for.
    template <typename BoardSettings>
    struct SettingsRequest final : Request {
        explicit SettingsRequest(BoardSettings asked) : wanted(std::move(asked)) {}
        BoardSettings wanted;
    };
    virtual std::unique_ptr<Request> Requested() const = 0;
    // Apply, with what the request asks instead of what the panel shows; a request this board
    // cannot read (another family's) makes it Apply the panel.
    virtual void ApplyRequest(const Request& request) = 0;
};

namespace family {
constexpr int kRtx2080Ti = 1;
constexpr int kRtx3080Ti = 2;
}  // namespace family
