#pragma once
// The RTX 2080 Ti on the panel: its rows of the panel table, and the order Apply sets its items in.
#include <vector>

#include "boards/PanelPresenter.h"
#include "model/ApplyJob.h"
#include "model/Rtx2080TiSettings.h"

namespace rtx2080ti {

const PanelLayout& Layout();

// The order in which Apply sets the items.
const std::vector<Item>& ApplyOrder();

}  // namespace rtx2080ti
