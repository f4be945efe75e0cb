#include "window/PanelMaps.h"

#include "res/ControlIds.h"

template <>
const PanelMap<rtx2080ti::Item>& PanelMapOf<Rtx2080TiFamily>() {
    using rtx2080ti::Item;
    static const PanelMap<Item> map = {
        {
            {Item::Auto, 0, ctl::kAuto},
            {Item::Nvvdd, ctl::kRow1Label, ctl::kRow1Slider, ctl::kRow1Value},
            {Item::Fbvdd, ctl::kRow2Label, ctl::kRow2Slider, ctl::kRow2Value},
            {Item::Pexvdd, ctl::kRow3Label, ctl::kRow3Slider, ctl::kRow3Value},
            {Item::Frequency, ctl::kRow4Label, ctl::kRow4Slider, ctl::kRow4Value},
            {Item::Rail1v8, ctl::kRow5Label, ctl::kRow5Slider, ctl::kRow5Value},
            {Item::Ln2, ctl::kList1LeftLabel, ctl::kList1Left},
            {Item::Loadline, ctl::kList2LeftLabel, ctl::kList2Left},
            {Item::Ocp, ctl::kList3LeftLabel, ctl::kList3Left},
        },
        {ctl::kList1RightLabel, ctl::kList2RightLabel, ctl::kList3RightLabel, ctl::kList1Right, ctl::kList2Right,
         ctl::kList3Right},
    };
    return map;
}

template <>
const PanelMap<rtx3080ti::Item>& PanelMapOf<Rtx3080TiFamily>() {
    using rtx3080ti::Item;
    static const PanelMap<Item> map = {
        {
            {Item::Auto, 0, ctl::kAuto},
            {Item::Nvvdd, ctl::kRow1Label, ctl::kRow1Slider, ctl::kRow1Value},
            {Item::Fbvdd, ctl::kRow2Label, ctl::kRow2Slider, ctl::kRow2Value},
            {Item::Msvdd, ctl::kRow3Label, ctl::kRow3Slider, ctl::kRow3Value},
            {Item::NvFrequency, ctl::kRow4Label, ctl::kRow4Slider, ctl::kRow4Value},
            {Item::MsFrequency, ctl::kRow5Label, ctl::kRow5Slider, ctl::kRow5Value},
            {Item::NvLoadline, ctl::kList2LeftLabel, ctl::kList2Left},
            {Item::MsLoadline, ctl::kList2RightLabel, ctl::kList2Right},
            {Item::NvOcp, ctl::kList3LeftLabel, ctl::kList3Left},
            {Item::MsOcp, ctl::kList3RightLabel, ctl::kList3Right},
        },
        {ctl::kList1LeftLabel, ctl::kList1RightLabel, ctl::kList1Left, ctl::kList1Right},
    };
    return map;
}
