#pragma once
// What the controller window knows of a board: the operations it forwards to the selected board,
// in the panel's terms. What the user wants is a value: the window takes it from the selected
// board's panel once and hands the same value to every board Sync reaches.
#include <optional>
#include <variant>

#include "model/Rtx2080TiSettings.h"
#include "model/Rtx3080TiSettings.h"

// The settings a user asks of a board of one family.
using WantedSettings = std::variant<rtx2080ti::BoardSettings, rtx3080ti::BoardSettings>;

struct LoadedProfile {
    WantedSettings wanted;  // as the panel holds them
    bool sync;
};

class IVgaControl {
public:
    virtual ~IVgaControl() = default;

    virtual bool IsDetected() const = 0;
    virtual void Activate() = 0;
    virtual void OnSliderMoved(int controlId) = 0;
    // Apply of what the panel asks.
    virtual void Apply() = 0;
    virtual void LoadDefaults() = 0;
    virtual void OnTimerTick() = 0;
    virtual void SetAuto(bool checked) = 0;
    // Sync reaches the boards of one family.
    virtual int GetFamily() const = 0;
    // Shows the family's profile on the panel, without touching the board, and gives it as
    // wanted settings with its Sync flag; none when there is no profile (the panel unchanged).
    virtual std::optional<LoadedProfile> LoadProfile() = 0;
    // Writes the board's current settings, with the window's Sync flag, as the family's profile.
    virtual void SaveProfile(bool sync) = 0;

    // What the panel asks of this board now; none before the panel is there.
    virtual std::optional<WantedSettings> Wanted() const = 0;
    // Apply of these settings, with this board's own Auto flag; settings of another family apply
    // the panel instead.
    virtual void Apply(const WantedSettings& wanted) = 0;
};
