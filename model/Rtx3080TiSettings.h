#pragma once
// The RTX 3080 Ti family's settings: the ten items its panel shows and its profile stores.
#include "model/Settings.h"

namespace rtx3080ti {

enum class Item { Auto, Nvvdd, Fbvdd, Msvdd, NvFrequency, MsFrequency, NvLoadline, MsLoadline, NvOcp, MsOcp, kCount };

// The rails that can be handed back to automatic control.
enum class Rail { Nvvdd, Msvdd };

// Auto holds non-zero for automatic control; rails hold voltage codes, frequencies 100 kHz units,
// loadlines levels, OCP 1 for enabled.
using BoardSettings = ::Settings<Item>;

}  // namespace rtx3080ti
