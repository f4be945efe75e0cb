#pragma once
// What an entry point makes and hands the window or the command line: the NvAPI realization, the
// pauses devices need and the profile store, made when first asked for (the window's detection,
// --apply-profile's read of the profile). The run makes its GPU list from the realization and
// destroys it at its end.
#include "gpu/GpuList.h"
#include "gpu/NvApi.h"
#include "model/Sleeper.h"
#include "profile/ProfileStore.h"

struct RunContext {
    nvapi::NvApi& nvapi;
    Sleeper& sleeper;
    LazyProfileStore& profiles;
};

// What every board of a run shares once the run has its GPU list.
struct BoardServices {
    const GpuList& gpus;
    Sleeper& sleeper;
    LazyProfileStore& profiles;
};
