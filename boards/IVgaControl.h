#pragma once
// What the controller window knows of a board: one implementation per supported board type.
#include <vector>

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
};

namespace family {
constexpr int kRtx2080Ti = 1;
constexpr int kRtx3080Ti = 2;
}  // namespace family
