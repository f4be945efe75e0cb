#pragma once
// The RTX 2080 Ti family's settings: the nine items its panel shows.
#include "model/Settings.h"

namespace rtx2080ti {

// In the order the board is read.
enum class Item { Auto, Nvvdd, Fbvdd, Pexvdd, Frequency, Rail1v8, Ln2, Loadline, Ocp, kCount };

// Auto holds non-zero for automatic control of NVVDD; rails hold voltage codes, PEXVDD and +1.8V
// offsets, the frequency 100 kHz steps, the loadline a level, LN2 and OCP 1 for on.
using BoardSettings = ::Settings<Item>;

}  // namespace rtx2080ti
