#include "colour_profile.h"

#include <lcms2.h>

namespace korvane {

namespace {

// Every LittleCMS object is freed however a conversion ends.
struct Profile {
    cmsHPROFILE handle;
    explicit Profile(cmsHPROFILE h) : handle(h) {}
    ~Profile()
    {
        if (handle)
            cmsCloseProfile(handle);
    }
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;
};

struct Transform {
    cmsHTRANSFORM handle;
    explicit Transform(cmsHTRANSFORM h) : handle(h) {}
    ~Transform()
    {
        if (handle)
            cmsDeleteTransform(handle);
    }
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;
};

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

void transformRows(cmsHTRANSFORM transform, QImage& image)
{
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        uchar* row = image.scanLine(y);
        cmsDoTransform(transform, row, row, static_cast<cmsUInt32Number>(width));
    }
}

// Converts the rows in place from `source` to sRGB, grey or RGB alike.
void convertInPlace(QImage& image, cmsHPROFILE source)
{
    const bool grey = image.format() == QImage::Format_Grayscale8;
    const Profile target(grey ? greyProfile(srgbCurve()) : cmsCreate_sRGBProfile());
    if (!target.handle)
        return;
    const cmsUInt32Number format = grey ? TYPE_GRAY_8 : TYPE_RGB_8;
    const Transform transform(
        cmsCreateTransform(source, format, target.handle, format, INTENT_RELATIVE_COLORIMETRIC, 0));
    if (transform.handle)
        transformRows(transform.handle, image);
}

QImage applyToGrey(QImage image, const ColourProfile& profile)
{
    const Profile source(profile.icc.isEmpty() ? greyProfileOf(profile.space) : openIcc(profile.icc));
    if (source.handle && cmsGetColorSpace(source.handle) == cmsSigGrayData)
        convertInPlace(image, source.handle);
    return image;
}

QImage applyToRgb(QImage image, const ColourProfile& profile)
{
    if (profile.icc.isEmpty()) {
        image.setColorSpace(profile.space);
        return image;
    }
    const QColorSpace space = QColorSpace::fromIccProfile(profile.icc);
    if (space.isValid()) {
        image.setColorSpace(space);
        return image;
    }
    // Profiles built from lookup tables, which Qt does not read.
    const Profile source(openIcc(profile.icc));
    if (source.handle && cmsGetColorSpace(source.handle) == cmsSigRgbData)
        convertInPlace(image, source.handle);
    return image;
}

} // namespace

QImage applyColourProfile(QImage image, const ColourProfile& profile)
{
    if (image.isNull())
        return image;
    if (image.format() == QImage::Format_Grayscale8)
        return applyToGrey(std::move(image), profile);
    return applyToRgb(std::move(image), profile);
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
