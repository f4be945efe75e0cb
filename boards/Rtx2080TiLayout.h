#pragma once
// The RTX 2080 Ti on the panel: its rows of the panel table, and the order Apply sets its items in.
#include <vector>

#include "boards/PanelPresenter.h"
#include "model/ApplyJob.h"
#include "model/Rtx2080TiSettings.h"

namespace rtx2080ti {

const PanelLayout& Layout();

// What Apply sets, in the board's order: the Auto flag spares NVVDD; items not read (a list
// without a choice, a control the window lacks) are left alone.
std::vector<ApplyJob::Want> ApplyOrder(const BoardSettings& wanted);

}  // namespace rtx2080ti
