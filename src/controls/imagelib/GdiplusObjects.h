#pragma once
// The Qt objects behind the image library's handles, for the tool's own Qt code.

#include <QBrush>
#include <QByteArray>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QString>

#include <memory>

#include "controls/imagelib/GdiplusImage.h"

struct GpBitmap {
    QImage image;
    int32_t pixelFormat = PIXEL_FORMAT_32BPP_ARGB;
    int32_t lastStatus = GP_OK;
    QByteArray encodedBytes;  // the bytes a decoded bitmap came from, kept as long as it lives
};

struct GpGraphics {
    // Borrows a painter that outlives this object.
    explicit GpGraphics(QPainter* borrowed) : painter(borrowed) {}
    QPainter* painter = nullptr;
    std::unique_ptr<QPainter> owned;  // set when the library opened the painter itself
    int32_t lastStatus = GP_OK;
};

struct GpFont {
    QFont font;
    int32_t lastStatus = GP_OK;
};

struct GpStringFormat {
    int32_t align = STRING_ALIGN_NEAR;
    int32_t lineAlign = STRING_ALIGN_NEAR;
    int32_t flags = 0;
    int32_t lastStatus = GP_OK;
};

struct GpBrush {
    QBrush brush;
    int32_t lastStatus = GP_OK;
};

struct GpRegion {
    QRegion region;
};

// Qt text flags of a string format (alignment, wrapping); null gives near/near with wrapping.
GDIPLUS_API int GpStringFormatToQtFlags(const GpStringFormat* format);
// The family used for a face: the face when installed, WenQuanYi Micro Hei for
// "黑体" where SimHei is missing, else the generic sans-serif family.
GDIPLUS_API QString GpResolveFontFamily(const QString& face);
// A bitmap holding a copy of the image (32-bit ARGB unless the image is of another known format).
GDIPLUS_API GpBitmap* GpBitmap_FromImage(const QImage& image);
