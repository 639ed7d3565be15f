#include "colour_profile.h"

#include "image_normalize.h"

#include <lcms2.h>

namespace korvane {

namespace {

// Every LittleCMS object is freed however a conversion ends.
template <typename Handle, auto Free>
struct Held {
    Handle handle;
    explicit Held(Handle h) : handle(h) {}
    ~Held()
    {
        if (handle)
            Free(handle);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};
using Profile = Held<cmsHPROFILE, cmsCloseProfile>;

cmsHPROFILE openIcc(const QByteArray& icc)
{
    return cmsOpenProfileFromMem(icc.constData(), static_cast<cmsUInt32Number>(icc.size()));
}

// sRGB's curve: 2.4 power with the linear toe (IEC 61966-2-1).
cmsToneCurve* srgbCurve()
{
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, parameters);
}

cmsHPROFILE greyProfile(cmsToneCurve* curve)
{
    if (!curve)
        return nullptr;
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    return profile;
}

// The grey curve a named colour space gives (gAMA, nclx); null for sRGB's.
cmsHPROFILE greyProfileOf(const QColorSpace& space)
{
    switch (space.transferFunction()) {
    case QColorSpace::TransferFunction::Linear:
        return greyProfile(cmsBuildGamma(nullptr, 1.0));
    case QColorSpace::TransferFunction::Gamma:
        return greyProfile(cmsBuildGamma(nullptr, space.gamma()));
    default:
        return nullptr;
    }
}

// A transform from `source` to sRGB, grey or RGB alike; null when
// LittleCMS cannot build it.
cmsHTRANSFORM transformToSrgb(cmsHPROFILE source, bool grey)
{
    const Profile target(grey ? greyProfile(srgbCurve()) : cmsCreate_sRGBProfile());
    if (!target.handle)
        return nullptr;
    const cmsUInt32Number format = grey ? TYPE_GRAY_8 : TYPE_RGB_8;
    // Without LittleCMS's one-pixel cache, one transform serves several
    // threads at once.
    return cmsCreateTransform(source, format, target.handle, format, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
}

} // namespace

SrgbRows::SrgbRows(const ColourProfile& profile, bool grey)
{
    if (!grey && profile.icc.isEmpty()) {
        m_space = profile.space;
        return;
    }
    if (!grey) {
        m_space = QColorSpace::fromIccProfile(profile.icc);
        if (m_space.isValid())
            return;
    }
    // Grey profiles and RGB profiles built from lookup tables, which Qt
    // does not read.
    const Profile source(profile.icc.isEmpty() ? greyProfileOf(profile.space) : openIcc(profile.icc));
    if (source.handle && cmsGetColorSpace(source.handle) == (grey ? cmsSigGrayData : cmsSigRgbData))
        m_transform = transformToSrgb(source.handle, grey);
}

SrgbRows::~SrgbRows()
{
    if (m_transform)
        cmsDeleteTransform(m_transform);
}

void SrgbRows::convert(uchar* rows, qsizetype stride, int width, int count) const
{
    if (m_transform) {
        for (int y = 0; y < count; ++y)
            cmsDoTransform(m_transform, rows + y * stride, rows + y * stride, static_cast<cmsUInt32Number>(width));
    } else if (needsSrgbConversion(m_space)) {
        convertRgb888RowsToSrgb(rows, stride, width, count, m_space);
    }
}

QImage applyColourProfile(QImage image, const ColourProfile& profile)
{
    if (image.isNull())
        return image;
    const bool grey = image.format() == QImage::Format_Grayscale8;
    const SrgbRows rows(profile, grey);
    if (!grey && !rows.usesLittleCms()) {
        image.setColorSpace(rows.space()); // converted with the display format, in bands
        return image;
    }
    rows.convert(image.bits(), image.bytesPerLine(), image.width(), image.height());
    return image;
}

std::unique_ptr<CmykToSrgb> CmykToSrgb::fromIcc(const QByteArray& icc, bool inverted)
{
    if (icc.isEmpty())
        return nullptr;
    const Profile source(openIcc(icc));
    if (!source.handle || cmsGetColorSpace(source.handle) != cmsSigCmykData)
        return nullptr;
    const Profile target(cmsCreate_sRGBProfile());
    // Relative colorimetric: the colours the print would show, paper white
    // as white (LittleCMS's own default). The transform keeps what it needs
    // of both profiles.
    cmsHTRANSFORM transform = cmsCreateTransform(source.handle, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8,
        target.handle, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    if (!transform)
        return nullptr;
    return std::unique_ptr<CmykToSrgb>(new CmykToSrgb(transform));
}

CmykToSrgb::~CmykToSrgb()
{
    cmsDeleteTransform(m_transform);
}

void CmykToSrgb::convertRow(const uchar* cmyk, uchar* rgb, int width) const
{
    cmsDoTransform(m_transform, cmyk, rgb, static_cast<cmsUInt32Number>(width));
}

} // namespace korvane
