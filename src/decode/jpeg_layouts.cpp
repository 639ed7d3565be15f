#include "jpeg_layouts.h"

#include <algorithm>
#include <cstring>

namespace korvane {

namespace {

void copyTable(const JHUFF_TBL& from, HuffmanTable& to)
{
    std::memcpy(to.bits.data(), from.bits, to.bits.size());
    std::memcpy(to.values.data(), from.huffval, to.values.size());
}

} // namespace

std::shared_ptr<const EntropyLayout> entropyLayoutOf(const jpeg_decompress_struct& cinfo)
{
    if (cinfo.arith_code || cinfo.progressive_mode || cinfo.comps_in_scan < 1
        || cinfo.comps_in_scan != cinfo.num_components || cinfo.comps_in_scan > 4)
        return nullptr;
    auto layout = std::make_shared<EntropyLayout>();
    const bool single = cinfo.comps_in_scan == 1;
    const int mcuWidth = single ? DCTSIZE : cinfo.max_h_samp_factor * DCTSIZE;
    const int mcuHeight = single ? DCTSIZE : cinfo.max_v_samp_factor * DCTSIZE;
    layout->mcusPerRow = int((cinfo.image_width + unsigned(mcuWidth) - 1) / unsigned(mcuWidth));
    layout->mcuRows = int((cinfo.image_height + unsigned(mcuHeight) - 1) / unsigned(mcuHeight));
    for (int i = 0; i < cinfo.comps_in_scan; ++i) {
        const jpeg_component_info& component = *cinfo.cur_comp_info[i];
        const JHUFF_TBL* dc = cinfo.dc_huff_tbl_ptrs[component.dc_tbl_no & 3];
        const JHUFF_TBL* ac = cinfo.ac_huff_tbl_ptrs[component.ac_tbl_no & 3];
        if (!dc || !ac)
            return nullptr;
        const JQUANT_TBL* quantization = cinfo.quant_tbl_ptrs[component.quant_tbl_no & 3];
        layout->components.push_back({single ? 1 : component.h_samp_factor * component.v_samp_factor,
            component.dc_tbl_no & 3, component.ac_tbl_no & 3, single ? 1 : component.h_samp_factor,
            single ? 1 : component.v_samp_factor, quantization ? int(quantization->quantval[0]) : 0});
        copyTable(*dc, layout->dc[std::size_t(component.dc_tbl_no & 3)]);
        copyTable(*ac, layout->ac[std::size_t(component.ac_tbl_no & 3)]);
    }
    // Grey, or colour as YCbCr or RGB, with its quantization tables: the
    // overview's pass can take block means from the DC values.
    const bool colour = cinfo.num_components == 3
        && (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB);
    const bool quantized = std::all_of(layout->components.begin(), layout->components.end(),
        [](const EntropyLayout::Component& component) { return component.dcStep > 0; });
    if ((cinfo.num_components == 1 || colour) && quantized)
        layout->eighthWidth = int((cinfo.image_width + 7) / 8);
    layout->ycc = cinfo.jpeg_color_space == JCS_YCbCr;
    return layout;
}

// The frame's components, their quantization tables, and whether the
// overview can take block means from the DC values.
std::shared_ptr<const ScanFrame> scanFrameOf(const jpeg_decompress_struct& cinfo)
{
    if (cinfo.arith_code || (cinfo.num_components != 1 && cinfo.num_components != 3))
        return nullptr;
    auto frame = std::make_shared<ScanFrame>();
    frame->width = int(cinfo.image_width);
    frame->height = int(cinfo.image_height);
    frame->progressive = cinfo.progressive_mode != 0;
    frame->colourSpace = int(cinfo.jpeg_color_space);
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& component = cinfo.comp_info[c];
        const JQUANT_TBL* quantization = cinfo.quant_tbl_ptrs[component.quant_tbl_no & 3];
        if (!quantization || quantization->quantval[0] == 0)
            return nullptr;
        ScanFrame::Component& to = frame->components.emplace_back();
        to.id = component.component_id;
        to.horizontal = component.h_samp_factor;
        to.vertical = component.v_samp_factor;
        std::copy_n(quantization->quantval, DCTSIZE2, to.quantization.begin());
    }
    const bool colour = cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_RGB;
    if (cinfo.num_components == 1 || colour)
        frame->eighthWidth = int((cinfo.image_width + 7) / 8);
    frame->ycc = cinfo.jpeg_color_space == JCS_YCbCr;
    return frame;
}

} // namespace korvane
