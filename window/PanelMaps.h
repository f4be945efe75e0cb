#pragma once
// Where each family's items sit on the controller window's panel.
#include "boards/Rtx2080TiFamily.h"
#include "boards/Rtx3080TiFamily.h"
#include "window/PanelPresenter.h"

template <typename Family>
const PanelMap<typename Family::Item>& PanelMapOf();

template <>
const PanelMap<rtx2080ti::Item>& PanelMapOf<Rtx2080TiFamily>();
template <>
const PanelMap<rtx3080ti::Item>& PanelMapOf<Rtx3080TiFamily>();
