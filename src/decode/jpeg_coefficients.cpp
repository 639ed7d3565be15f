#include "jpeg_coefficients.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>

namespace korvane {

BandCoefficients::BandCoefficients()
{
    useJpegErrors(m_cinfo, m_errors);
    jpeg_create_compress(&m_cinfo);
}

BandCoefficients::~BandCoefficients()
{
    jpeg_destroy_compress(&m_cinfo);
    std::free(m_jpeg); // NOLINT(cppcoreguidelines-no-malloc): libjpeg's own
}

bool BandCoefficients::start(const ScanFrame& frame, int height, int mcusPerRow, int mcuRows)
{
    if (setjmp(m_errors.jump))
        return false;
    jpeg_mem_dest(&m_cinfo, &m_jpeg, &m_jpegBytes);
    m_cinfo.image_width = JDIMENSION(frame.width);
    m_cinfo.image_height = JDIMENSION(height);
    const bool grey = frame.components.size() == 1;
    m_cinfo.input_components = grey ? 1 : 3;
    m_cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&m_cinfo);
    jpeg_set_colorspace(&m_cinfo, grey ? JCS_GRAYSCALE : frame.colourSpace == JCS_RGB ? JCS_RGB : JCS_YCbCr);
    for (std::size_t c = 0; c < frame.components.size(); ++c) {
        const ScanFrame::Component& from = frame.components[c];
        jpeg_component_info& component = m_cinfo.comp_info[c];
        component.h_samp_factor = from.horizontal;
        component.v_samp_factor = from.vertical;
        component.quant_tbl_no = int(c);
        JQUANT_TBL* table = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(&m_cinfo));
        std::copy(from.quantization.begin(), from.quantization.end(), table->quantval);
        m_cinfo.quant_tbl_ptrs[c] = table;
        const auto down = JDIMENSION(mcuRows * from.vertical);
        m_arrays[c] = m_cinfo.mem->request_virt_barray(reinterpret_cast<j_common_ptr>(&m_cinfo), JPOOL_IMAGE, TRUE,
            JDIMENSION(mcusPerRow * from.horizontal), down, down);
    }
    jpeg_write_coefficients(&m_cinfo, m_arrays.data());
    for (std::size_t c = 0; c < frame.components.size(); ++c)
        m_rows[c] = m_cinfo.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&m_cinfo), m_arrays[c], 0,
            JDIMENSION(mcuRows * frame.components[c].vertical), TRUE);
    return true;
}

std::vector<std::uint8_t> BandCoefficients::finish()
{
    if (setjmp(m_errors.jump))
        return {};
    jpeg_finish_compress(&m_cinfo);
    return {m_jpeg, m_jpeg + m_jpegBytes};
}

} // namespace korvane
