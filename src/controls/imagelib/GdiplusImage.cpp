// The image functions over QImage and QPainter.

#include "controls/imagelib/GdiplusImage.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "controls/imagelib/GdiplusObjects.h"

namespace {

// ---- pixel formats ----

bool ToQtFormat(int pixelFormat, QImage::Format& out) {
    switch (pixelFormat) {
    case PIXEL_FORMAT_1BPP_INDEXED: out = QImage::Format_Mono; return true;
    case PIXEL_FORMAT_8BPP_INDEXED: out = QImage::Format_Indexed8; return true;
    case PIXEL_FORMAT_16BPP_RGB565: out = QImage::Format_RGB16; return true;
    case PIXEL_FORMAT_24BPP_RGB: out = QImage::Format_BGR888; return true;  // bytes B, G, R
    case PIXEL_FORMAT_32BPP_RGB: out = QImage::Format_RGB32; return true;
    case PIXEL_FORMAT_32BPP_ARGB: out = QImage::Format_ARGB32; return true;  // bytes B, G, R, A
    case PIXEL_FORMAT_32BPP_PARGB: out = QImage::Format_ARGB32_Premultiplied; return true;
    default: return false;
    }
}

int BitsPerPixel(int pixelFormat) { return (pixelFormat >> 8) & 0xFF; }

QVector<QRgb> GreyTable(int count) {
    QVector<QRgb> table(count);
    for (int i = 0; i < count; ++i) {
        const int v = count > 1 ? i * 255 / (count - 1) : 0;
        table[i] = qRgb(v, v, v);
    }
    return table;
}

// A decoded image in the pixel format the platform decoder would have given it.
GpBitmap* AdoptDecoded(QImage image) {
    if (image.isNull()) return nullptr;
    auto* bitmap = new (std::nothrow) GpBitmap;
    if (!bitmap) return nullptr;
    switch (image.format()) {
    case QImage::Format_Indexed8: bitmap->pixelFormat = PIXEL_FORMAT_8BPP_INDEXED; break;
    case QImage::Format_Mono: bitmap->pixelFormat = PIXEL_FORMAT_1BPP_INDEXED; break;
    case QImage::Format_MonoLSB:
        image = image.convertToFormat(QImage::Format_Mono);
        bitmap->pixelFormat = PIXEL_FORMAT_1BPP_INDEXED;
        break;
    case QImage::Format_Grayscale8:
        image = image.convertToFormat(QImage::Format_Indexed8, GreyTable(256));
        bitmap->pixelFormat = PIXEL_FORMAT_8BPP_INDEXED;
        break;
    case QImage::Format_RGB32:
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
        image = image.convertToFormat(QImage::Format_BGR888);
        bitmap->pixelFormat = PIXEL_FORMAT_24BPP_RGB;
        break;
    case QImage::Format_RGB16: bitmap->pixelFormat = PIXEL_FORMAT_16BPP_RGB565; break;
    default:
        image = image.convertToFormat(QImage::Format_ARGB32);
        bitmap->pixelFormat = PIXEL_FORMAT_32BPP_ARGB;
        break;
    }
    bitmap->image = std::move(image);
    return bitmap;
}

GpBitmap* NewBitmap(int width, int height, int pixelFormat) {
    QImage::Format format;
    if (width < 1 || height < 1 || !ToQtFormat(pixelFormat, format)) return nullptr;
    QImage image(width, height, format);
    if (image.isNull()) return nullptr;
    if (format == QImage::Format_Indexed8) image.setColorTable(GreyTable(256));
    if (format == QImage::Format_Mono) image.setColorTable(GreyTable(2));
    image.fill(0);
    auto* bitmap = new (std::nothrow) GpBitmap;
    if (!bitmap) return nullptr;
    bitmap->image = std::move(image);
    bitmap->pixelFormat = pixelFormat;
    return bitmap;
}

// ---- text and paths ----

QString FromWide(const wchar_t* text) { return text ? QString::fromWCharArray(text) : QString(); }

constexpr int MAX_PATH_LENGTH = 260;

void ToWide(const QString& text, wchar_t* out, int capacity) {
    const QString cut = text.left(capacity - 1);
    const int n = cut.toWCharArray(out);
    out[n] = L'\0';
}

int PictureTypeOfName(const QString& fileName) {
    const QString ext = QFileInfo(fileName).suffix().toLower();
    if (ext == QLatin1String("bmp")) return PICTURE_TYPE_BMP;
    if (ext == QLatin1String("jpeg") || ext == QLatin1String("jpg")) return PICTURE_TYPE_JPEG;
    if (ext == QLatin1String("gif")) return PICTURE_TYPE_GIF;
    if (ext == QLatin1String("tiff")) return PICTURE_TYPE_TIFF;
    return PICTURE_TYPE_PNG;  // "png", "tif" and everything else
}

const char* MimeOfType(int type) {
    switch (type) {
    case PICTURE_TYPE_JPEG: return "image/jpeg";
    case PICTURE_TYPE_GIF: return "image/gif";
    case PICTURE_TYPE_TIFF: return "image/tiff";
    case PICTURE_TYPE_PNG: return "image/png";
    default: return "image/bmp";
    }
}

const char* ExtensionOfType(int type) {
    switch (type) {
    case PICTURE_TYPE_JPEG: return "jpg";
    case PICTURE_TYPE_GIF: return "gif";
    case PICTURE_TYPE_TIFF: return "tif";
    case PICTURE_TYPE_PNG: return "png";
    default: return "bmp";
    }
}

// ---- encoders ----

struct Encoder {
    const char* mime;
    const char* qtFormat;
    GpCLSID clsid;
};

// The platform's built-in encoders, in their usual order, with their class ids.
const Encoder ENCODERS[] = {
    {"image/bmp", "bmp", {0x557CF400, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}}},
    {"image/jpeg", "jpeg", {0x557CF401, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}}},
    {"image/gif", "gif", {0x557CF402, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}}},
    {"image/tiff", "tiff", {0x557CF405, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}}},
    {"image/png", "png", {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}}},
};

bool EncoderInstalled(const Encoder& encoder) {
    return QImageWriter::supportedImageFormats().contains(QByteArray(encoder.qtFormat));
}

const Encoder* FindEncoder(const QString& mime) {
    for (const Encoder& encoder : ENCODERS)
        if (mime.compare(QLatin1String(encoder.mime), Qt::CaseInsensitive) == 0 && EncoderInstalled(encoder))
            return &encoder;
    return nullptr;
}

bool Save(GpBitmap* bitmap, const QString& path, const Encoder& encoder) {
    QImageWriter writer(path, encoder.qtFormat);
    if (writer.write(bitmap->image)) return true;
    bitmap->lastStatus = GP_GENERIC_ERROR;
    return false;
}

// ---- drawing helpers ----

QRect FromRect(const GpRECT& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

QRect SourceRect(const GpBitmap* bitmap, const GpRECT* src) {
    return src ? FromRect(*src) : QRect(0, 0, bitmap->image.width(), bitmap->image.height());
}

// Draws the source part of the image onto target. Source parts beyond the image
// read the image mirrored at its edges, as the tile-flip-XY wrap mode does.
void DrawWrapped(QPainter& painter, const QRectF& target, const QImage& image, const QRectF& source) {
    if (target.isEmpty() || source.isEmpty() || image.isNull()) return;
    const QRectF bounds(0, 0, image.width(), image.height());
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, source.size() != target.size());
    if (bounds.contains(source)) {
        painter.drawImage(target, image, source);
    } else {
        // A 3 x 3 mosaic of the image and its mirror images, the original in the middle.
        const int w = image.width();
        const int h = image.height();
        QImage mosaic(w * 3, h * 3, QImage::Format_ARGB32_Premultiplied);
        mosaic.fill(0);
        {
            QPainter m(&mosaic);
            m.setCompositionMode(QPainter::CompositionMode_Source);
            for (int row = 0; row < 3; ++row)
                for (int col = 0; col < 3; ++col)
                    m.drawImage(col * w, row * h, image.mirrored(col != 1, row != 1));
        }
        painter.drawImage(target, mosaic, source.translated(w, h));
    }
    painter.restore();
}

bool Ready(GpGraphics* graphics) { return graphics && graphics->painter && graphics->painter->isActive(); }

// A new 32-bit ARGB bitmap with the source part drawn over all of it.
GpBitmap* DrawInto(GpBitmap* out, const QImage& image, const QRectF& source) {
    if (!out) return nullptr;
    QPainter painter(&out->image);
    DrawWrapped(painter, QRectF(0, 0, out->image.width(), out->image.height()), image, source);
    return out;
}

QImage WithAlphaFactor(const QImage& image, const QRect& part, double factor) {
    QImage copy = image.copy(part).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < copy.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(copy.scanLine(y));
        for (int x = 0; x < copy.width(); ++x) {
            const int a = static_cast<int>(qAlpha(line[x]) * factor + 0.5);
            line[x] = (line[x] & 0x00FFFFFFu) | (static_cast<QRgb>(std::clamp(a, 0, 255)) << 24);
        }
    }
    return copy;
}

QFont MakeFont(const QString& face, double pointSize, int style) {
    QFont font(GpResolveFontFamily(face));
    font.setPointSizeF(pointSize);
    font.setBold(style & FONT_STYLE_BOLD);
    font.setItalic(style & FONT_STYLE_ITALIC);
    font.setUnderline(style & FONT_STYLE_UNDERLINE);
    font.setStrikeOut(style & FONT_STYLE_STRIKEOUT);
    return font;
}

struct InitBlock {
    uint32_t token = 0;
    QGuiApplication* application = nullptr;  // made here when the process had none
};

int gArgc = 3;
char gArg0[] = "palo520g_gdiplus";
char gArg1[] = "-platform";
char gArg2[] = "offscreen";
char* gArgv[] = {gArg0, gArg1, gArg2, nullptr};

}  // namespace

// ---- Qt-side helpers ----

int GpStringFormatToQtFlags(const GpStringFormat* format) {
    const int align = format ? format->align : STRING_ALIGN_NEAR;
    const int line = format ? format->lineAlign : STRING_ALIGN_NEAR;
    const int flags = format ? format->flags : 0;
    int qt = 0;
    qt |= align == STRING_ALIGN_CENTER ? Qt::AlignHCenter : align == STRING_ALIGN_FAR ? Qt::AlignRight : Qt::AlignLeft;
    qt |= line == STRING_ALIGN_CENTER ? Qt::AlignVCenter : line == STRING_ALIGN_FAR ? Qt::AlignBottom : Qt::AlignTop;
    if (!(flags & STRING_FORMAT_FLAG_NO_WRAP)) qt |= Qt::TextWordWrap;
    if (flags & STRING_FORMAT_FLAG_NO_CLIP) qt |= Qt::TextDontClip;
    return qt;
}

QString GpResolveFontFamily(const QString& face) {
    static const QStringList families = QFontDatabase::families();
    if (!face.isEmpty() && families.contains(face, Qt::CaseInsensitive)) return face;
    if (face == QStringLiteral("黑体") || face.compare(QLatin1String("SimHei"), Qt::CaseInsensitive) == 0) {
        for (const char* standIn : {"SimHei", "WenQuanYi Micro Hei"})
            if (families.contains(QLatin1String(standIn), Qt::CaseInsensitive)) return QLatin1String(standIn);
    }
    return QStringLiteral("sans-serif");
}

GpBitmap* GpBitmap_FromImage(const QImage& image) { return AdoptDecoded(image.copy()); }

// ---- start-up ----

void* Gdiplus_Init(void) {
    auto* block = new (std::nothrow) InitBlock;
    if (!block) return nullptr;
    block->token = 1;
    // Fonts and text need a GUI application object; a program without one gets an
    // off-screen one for as long as the block lives.
    if (!QCoreApplication::instance()) block->application = new QGuiApplication(gArgc, gArgv);
    return block;
}

void Gdiplus_DeInit(void* block) {
    auto* init = static_cast<InitBlock*>(block);
    if (!init) return;
    delete init->application;
    delete init;
}

// ---- encoders and picture types ----

int Gdiplus_GetEncoderClsidByFormatTypeW(const wchar_t* mimeType, GpCLSID* clsid) {
    if (!mimeType) return 0;
    const Encoder* encoder = FindEncoder(FromWide(mimeType));
    if (!encoder) return 0;
    if (clsid) *clsid = encoder->clsid;
    return 1;
}

int Gdiplus_GetEncoderClsidByFormatTypeA(const char* mimeType, GpCLSID* clsid) {
    if (!mimeType) return 0;
    const Encoder* encoder = FindEncoder(QString::fromUtf8(mimeType));
    if (!encoder) return 0;
    if (clsid) *clsid = encoder->clsid;
    return 1;
}

int Gdiplus_GetEncoderClsidByPictureType(int pictureType, GpCLSID* clsid) {
    return Gdiplus_GetEncoderClsidByFormatTypeA(MimeOfType(pictureType), clsid);
}

int Gdiplus_GetPictureTypeByFileNameW(const wchar_t* fileName) { return PictureTypeOfName(FromWide(fileName)); }

int Gdiplus_GetPictureTypeByFileNameA(const char* fileName) {
    return PictureTypeOfName(fileName ? QString::fromUtf8(fileName) : QString());
}

int Gdiplus_ConvertImageFormatW(const wchar_t* source, wchar_t* target, int pictureType) {
    if (!source || !target) return 0;
    // target is the caller's output buffer: read at most its 260 characters, and
    // take it as the folder only when it names one (a buffer reused from an
    // earlier call holds that call's file name).
    const QString entry = QString::fromWCharArray(target, static_cast<qsizetype>(wcsnlen(target, MAX_PATH_LENGTH)));
    const QString folder = QFileInfo(entry).isDir() ? entry : QString();
    const QString name = QStringLiteral("Temp_") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss_zzz")) +
                         QLatin1Char('.') + QLatin1String(ExtensionOfType(pictureType));
    const QString path = folder.isEmpty() ? name : QDir(folder).filePath(name);
    ToWide(path, target, MAX_PATH_LENGTH);

    GpBitmap* bitmap = Gdiplus_LoadBitmapFromFileW(source);
    if (!bitmap) return 0;
    const Encoder* encoder = FindEncoder(QLatin1String(MimeOfType(pictureType)));
    const bool saved = encoder && Save(bitmap, FromWide(target), *encoder);
    Gdiplus_DeleteBitmap(bitmap);
    return saved ? 1 : 0;
}

int Gdiplus_ConvertImageFormatA(const char* source, char* target, int pictureType) {
    if (!source || !target) return 0;
    wchar_t wideSource[MAX_PATH_LENGTH];
    wchar_t wideTarget[MAX_PATH_LENGTH];
    ToWide(QString::fromUtf8(source), wideSource, MAX_PATH_LENGTH);
    ToWide(QString::fromUtf8(target, static_cast<qsizetype>(strnlen(target, MAX_PATH_LENGTH))), wideTarget, MAX_PATH_LENGTH);
    const int result = Gdiplus_ConvertImageFormatW(wideSource, wideTarget, pictureType);
    QByteArray utf8 = FromWide(wideTarget).toUtf8();
    // The narrow buffer has room for 260 bytes; a longer name is cut at a character boundary.
    while (utf8.size() >= MAX_PATH_LENGTH) utf8 = QString::fromUtf8(utf8).chopped(1).toUtf8();
    std::memcpy(target, utf8.constData(), static_cast<size_t>(utf8.size()) + 1);
    return result;
}

// ---- creation and conversion ----

GpBitmap* Gdiplus_CreateBitmap(int width, int height, int pixelFormat) { return NewBitmap(width, height, pixelFormat); }

GpBitmap* Gdiplus_CreateColorBmp(int width, int height, uint32_t argb) {
    GpBitmap* bitmap = NewBitmap(width, height, PIXEL_FORMAT_32BPP_ARGB);
    if (bitmap) bitmap->image.fill(argb);
    return bitmap;
}

GpBitmap* Gdiplus_CopyBitmap(GpBitmap* bitmap) {
    if (!bitmap) return nullptr;
    auto* copy = new (std::nothrow) GpBitmap;
    if (!copy) return nullptr;
    copy->image = bitmap->image.copy();  // owns its pixels even when the source borrows them
    copy->pixelFormat = bitmap->pixelFormat;
    if (copy->image.isNull() && !bitmap->image.isNull()) {
        delete copy;
        return nullptr;
    }
    return copy;
}

GpBitmap* Gdiplus_ModifyBitmapFormat(GpBitmap* bitmap, int pixelFormat) {
    QImage::Format format;
    if (!bitmap || !ToQtFormat(pixelFormat, format)) return nullptr;
    QImage converted = format == QImage::Format_Indexed8 ? bitmap->image.convertToFormat(format, GreyTable(256))
                                                          : bitmap->image.convertToFormat(format);
    if (converted.isNull()) return nullptr;
    auto* out = new (std::nothrow) GpBitmap;
    if (!out) return nullptr;
    out->image = converted.copy();
    out->pixelFormat = pixelFormat;
    return out;
}

GpBitmap* Gdiplus_GetHBitmap(GpBitmap* bitmap, uint32_t argbBackground, int /*topDown*/) {
    if (!bitmap) return nullptr;
    int format = PIXEL_FORMAT_32BPP_RGB;
    switch (BitsPerPixel(bitmap->pixelFormat)) {
    case 24: format = PIXEL_FORMAT_24BPP_RGB; break;
    case 16: format = PIXEL_FORMAT_16BPP_RGB565; break;
    default: break;
    }
    GpBitmap* out = NewBitmap(bitmap->image.width(), bitmap->image.height(), format);
    if (!out) return nullptr;
    out->image.fill(QColor(qRed(argbBackground), qGreen(argbBackground), qBlue(argbBackground)));
    QPainter painter(&out->image);
    painter.drawImage(0, 0, bitmap->image);
    return out;
}

int Gdiplus_GetBitmapBuffer(GpBitmap* bitmap, const GpRECT* rect, int pixelFormat, void* dest, int destStride) {
    QImage::Format format;
    if (!bitmap || !dest || !ToQtFormat(pixelFormat, format)) return 0;
    const QRect part = SourceRect(bitmap, rect).intersected(bitmap->image.rect());
    if (part.isEmpty()) return 0;
    const QImage locked = format == QImage::Format_Indexed8
                              ? bitmap->image.copy(part).convertToFormat(format, GreyTable(256))
                              : bitmap->image.copy(part).convertToFormat(format);
    if (locked.isNull()) return 0;
    const size_t rowBytes = static_cast<size_t>((part.width() * BitsPerPixel(pixelFormat) + 31) / 32) * 4;
    auto* out = static_cast<uint8_t*>(dest);
    for (int y = 0; y < locked.height(); ++y) {
        std::memcpy(out, locked.constScanLine(y), std::min(rowBytes, static_cast<size_t>(locked.bytesPerLine())));
        out += destStride;
    }
    return 1;
}

GpBitmap* Gdiplus_StretchBitmap(GpBitmap* bitmap, int width, int height) {
    if (!bitmap || width < 1 || height < 1) return nullptr;
    return DrawInto(NewBitmap(width, height, PIXEL_FORMAT_32BPP_ARGB), bitmap->image,
                    QRectF(0, 0, bitmap->image.width(), bitmap->image.height()));
}

GpBitmap* Gdiplus_ResizeBitmap(GpBitmap* bitmap, int width, int height, int mode, uint32_t argbBackground) {
    if (!bitmap || width < 1 || height < 1 || bitmap->image.isNull()) return nullptr;
    const double w0 = bitmap->image.width();
    const double h0 = bitmap->image.height();
    const double sx = width / w0;
    const double sy = height / h0;
    double s = 1.0;
    int outW = width;
    int outH = height;
    switch (mode) {
    case 0: break;
    case 1: s = std::min(sx, sy); break;
    case 2: s = std::max(sx, sy); break;
    case 3: s = sx; break;
    case 4: s = sy; break;
    default: return nullptr;
    }
    double originX = 0;
    double originY = 0;
    if (mode != 0) {
        outW = static_cast<int>(w0 * s);
        outH = static_cast<int>(h0 * s);
        originX = static_cast<int>((w0 - outW / s) / 2);
        originY = static_cast<int>((h0 - outH / s) / 2);
    }
    return DrawInto(Gdiplus_CreateColorBmp(outW, outH, argbBackground), bitmap->image,
                    QRectF(originX, originY, w0, h0));
}

GpBitmap* Gdiplus_DisposeBitmapByMode(GpBitmap* bitmap, int width, int height, int mode, uint32_t argbBackground) {
    if (!bitmap || width < 1 || height < 1 || bitmap->image.isNull()) return nullptr;
    const int w0 = bitmap->image.width();
    const int h0 = bitmap->image.height();
    switch (mode) {
    case 0: {
        const double s = std::min(static_cast<double>(w0) / width, static_cast<double>(h0) / height);
        const int rw = static_cast<int>(width * s);
        const int rh = static_cast<int>(height * s);
        return DrawInto(NewBitmap(width, height, PIXEL_FORMAT_32BPP_ARGB), bitmap->image,
                        QRectF((w0 - rw) / 2, (h0 - rh) / 2, rw, rh));
    }
    case 1: return Gdiplus_ResizeBitmap(bitmap, width, height, 1, argbBackground);
    case 2: {
        GpBitmap* out = NewBitmap(width, height, PIXEL_FORMAT_32BPP_ARGB);
        if (!out) return nullptr;
        QPainter painter(&out->image);
        const int columns = (width + w0 - 1) / w0;
        const int rows = (height + h0 - 1) / h0;
        // Edge tiles are cut, not scaled.
        for (int row = 0; row < rows; ++row)
            for (int col = 0; col < columns; ++col)
                painter.drawImage(col * w0, row * h0, bitmap->image, 0, 0, std::min(w0, width - col * w0),
                                  std::min(h0, height - row * h0));
        return out;
    }
    case 3: {
        GpBitmap* out = Gdiplus_CreateColorBmp(width, height, argbBackground);
        if (!out) return nullptr;
        const int mw = std::min(width, w0);
        const int mh = std::min(height, h0);
        QPainter painter(&out->image);
        painter.drawImage((width - mw) / 2, (height - mh) / 2, bitmap->image, (w0 - mw) / 2, (h0 - mh) / 2, mw, mh);
        return out;
    }
    case 4: return Gdiplus_StretchBitmap(bitmap, width, height);
    default: return nullptr;
    }
}

GpBitmap* Gdiplus_GetBitmapFromBitmap(GpBitmap* bitmap, int x, int y, int width, int height, const GpSIZE* outSize) {
    if (!bitmap || width < 1 || height < 1) return nullptr;
    const int outW = outSize ? outSize->cx : width;
    const int outH = outSize ? outSize->cy : height;
    return DrawInto(NewBitmap(outW, outH, PIXEL_FORMAT_32BPP_ARGB), bitmap->image, QRectF(x, y, width, height));
}

GpBitmap* Gdiplus_GetBitmapFromBitmapByRect(GpBitmap* bitmap, const GpRECT* rect, const GpSIZE* outSize) {
    if (!bitmap || !rect) return nullptr;
    return Gdiplus_GetBitmapFromBitmap(bitmap, rect->left, rect->top, rect->right - rect->left,
                                       rect->bottom - rect->top, outSize);
}

GpBitmap* Gdiplus_Gray(GpBitmap* bitmap) {
    if (!bitmap) return nullptr;
    GpBitmap* out = NewBitmap(bitmap->image.width(), bitmap->image.height(), bitmap->pixelFormat);
    if (!out) return nullptr;
    const QImage& in = bitmap->image;
    switch (bitmap->pixelFormat) {
    case PIXEL_FORMAT_32BPP_ARGB:
    case PIXEL_FORMAT_24BPP_RGB: {
        const int bytes = bitmap->pixelFormat == PIXEL_FORMAT_24BPP_RGB ? 3 : 4;
        for (int y = 0; y < in.height(); ++y) {
            const uchar* src = in.constScanLine(y);
            uchar* dst = out->image.scanLine(y);
            for (int x = 0; x < in.width(); ++x, src += bytes, dst += bytes) {
                // Bytes B, G, R (, A) in both formats.
                const auto grey = static_cast<uchar>((77 * src[2] + 150 * src[1] + 29 * src[0]) >> 8);
                dst[0] = dst[1] = dst[2] = grey;
                if (bytes == 4) dst[3] = src[3];
            }
        }
        break;
    }
    case PIXEL_FORMAT_8BPP_INDEXED:
        out->image = in.copy();
        break;
    default: break;  // other formats keep the pixels as created
    }
    return out;
}

int Gdiplus_GetStringFormat(uint32_t languageId) {
    const uint32_t id = languageId & 0xFFFF;
    return (id == 1025 || id == 1037) ? 1 : 0;
}

// ---- drawing ----

void Gdiplus_DrawText(GpGraphics* graphics, const wchar_t* text, const GpRectF* layout, uint32_t argb,
                      const GpStringFormat* format, const GpFont* font) {
    if (!Ready(graphics) || !text || !*text || !layout) return;
    if (!font) {
        graphics->lastStatus = GP_INVALID_PARAMETER;
        return;
    }
    QPainter& painter = *graphics->painter;
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(font->font);
    painter.setPen(QColor::fromRgba(argb));
    painter.drawText(QRectF(layout->X, layout->Y, layout->Width, layout->Height), GpStringFormatToQtFlags(format),
                     FromWide(text));
    painter.restore();
}

int Gdiplus_CalcFontSize(GpGraphics* graphics, const wchar_t* text, const GpSizeF* maxSize, const wchar_t* faceName,
                         int startSize, int fontStyle, const GpStringFormat* format) {
    if (!graphics || !graphics->painter || !text || !maxSize) return 0;
    QPaintDevice* device = graphics->painter->device();
    const QString string = FromWide(text);
    const QString face = FromWide(faceName);
    const int flags = GpStringFormatToQtFlags(format) & ~Qt::TextWordWrap;  // unbounded layout
    for (int size = startSize; size >= 1; --size) {
        const QFont font = MakeFont(face, size, fontStyle);
        const QFontMetricsF metrics = device ? QFontMetricsF(font, device) : QFontMetricsF(font);
        const QRectF box = metrics.boundingRect(QRectF(0, 0, 1e6, 1e6), flags, string);
        if (box.width() <= maxSize->Width && box.height() <= maxSize->Height) return size;
    }
    return 0;
}

void Gdiplus_DrawBitmap(GpGraphics* graphics, const GpRECT* dest, GpBitmap* bitmap, const GpRECT* src, int mode) {
    if (!Ready(graphics) || !dest || !bitmap) return;
    QPainter& painter = *graphics->painter;
    const QImage& image = bitmap->image;
    const double dx = dest->left, dy = dest->top;
    const double dw = dest->right - dest->left, dh = dest->bottom - dest->top;
    const QRect s = SourceRect(bitmap, src);
    const double sx = s.x(), sy = s.y(), sw = s.width(), sh = s.height();
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    switch (mode) {
    case 0: {
        const double r = std::min(sw / dw, sh / dh);
        const int rw = static_cast<int>(std::min(sw, sw / r));
        const int rh = static_cast<int>(std::min(sh, sh / r));
        DrawWrapped(painter, QRectF(dx, dy, dw, dh), image,
                    QRectF(sx + static_cast<int>((sw - rw) / 2), sy + static_cast<int>((sh - rh) / 2), rw, rh));
        break;
    }
    case 1: {
        const double r = std::max(sw / dw, sh / dh);
        const double w = sw / r, h = sh / r;
        DrawWrapped(painter, QRectF(dx + (dw - w) / 2, dy + (dh - h) / 2, w, h), image, QRectF(sx, sy, sw, sh));
        break;
    }
    case 2: {
        // Tiles start at the graphics origin; a tile cut at the edge still shows all of S.
        const int columns = static_cast<int>(std::ceil(dw / sw));
        const int rows = static_cast<int>(std::ceil(dh / sh));
        for (int row = 0; row < rows; ++row)
            for (int col = 0; col < columns; ++col) {
                const double tx = col * sw, ty = row * sh;
                DrawWrapped(painter, QRectF(tx, ty, std::min(sw, dw - tx), std::min(sh, dh - ty)), image,
                            QRectF(sx, sy, sw, sh));
            }
        break;
    }
    case 3: {
        const double w = std::min(dw, sw), h = std::min(dh, sh);
        const double px = dw > sw ? static_cast<int>((dw - sw) / 2) : 0;
        const double py = dh > sh ? static_cast<int>((dh - sh) / 2) : 0;
        const double ox = sw > dw ? static_cast<int>((sw - dw) / 2) : 0;
        const double oy = sh > dh ? static_cast<int>((sh - dh) / 2) : 0;
        DrawWrapped(painter, QRectF(px, py, w, h), image, QRectF(sx + ox, sy + oy, w, h));
        break;
    }
    default: DrawWrapped(painter, QRectF(dx, dy, dw, dh), image, QRectF(sx, sy, sw, sh)); break;
    }
}

void Gdiplus_DrawAlphaBitmap(GpGraphics* graphics, const GpRECT* dest, GpBitmap* bitmap, const GpRECT* src,
                             int stretch, int alpha) {
    if (!Ready(graphics) || !dest || !bitmap) return;
    const QRect d = FromRect(*dest);
    const QRect s = SourceRect(bitmap, src).intersected(bitmap->image.rect());
    if (d.isEmpty() || s.isEmpty()) return;
    // The alpha byte scales by alpha/256, so 255 gives 255/256 and never fully opaque:
    // the faded pictures of the pages were drawn for exactly that factor.
    const QImage faded = WithAlphaFactor(bitmap->image, s, (alpha & 0xFF) / 256.0);
    QPainter& painter = *graphics->painter;
    if (stretch) {
        DrawWrapped(painter, QRectF(d), faded, QRectF(faded.rect()));
    } else {
        const int w = std::min(d.width(), s.width());
        const int h = std::min(d.height(), s.height());
        painter.drawImage(d.x() + (d.width() - w) / 2, d.y() + (d.height() - h) / 2, faded, 0, 0, w, h);
    }
}

void Gdiplus_FillRect(GpGraphics* graphics, const GpRECT* rect, const GpBrush* brush) {
    if (!Ready(graphics) || !rect) return;
    if (!brush) {
        graphics->lastStatus = GP_INVALID_PARAMETER;
        return;
    }
    graphics->painter->fillRect(FromRect(*rect), brush->brush);
}

void Gdiplus_FillPolygon(GpGraphics* graphics, const GpPOINT* points, int count, const GpBrush* brush) {
    if (!Ready(graphics) || !points || count < 1) return;
    if (!brush) {
        graphics->lastStatus = GP_INVALID_PARAMETER;
        return;
    }
    QPolygon polygon(count);
    for (int i = 0; i < count; ++i) polygon.setPoint(i, points[i].x, points[i].y);
    QPainter& painter = *graphics->painter;
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(brush->brush);
    painter.drawPolygon(polygon, Qt::OddEvenFill);
    painter.restore();
}

void Gdiplus_DrawRect(GpGraphics* graphics, const GpRECT* rect, uint32_t argb, float penWidth) {
    if (!Ready(graphics) || !rect) return;
    QPainter& painter = *graphics->painter;
    painter.save();
    QPen pen(QColor::fromRgba(argb));
    pen.setWidthF(penWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect->left, rect->top, rect->right - rect->left - penWidth,
                            rect->bottom - rect->top - penWidth));
    painter.restore();
}

// ---- loading and saving ----

GpBitmap* Gdiplus_LoadBitmapFromImageBits(void* data, int width, int height, int stride, int pixelFormat) {
    QImage::Format format;
    if (!data || width <= 0 || height <= 0 || stride <= 0 || !ToQtFormat(pixelFormat, format)) return nullptr;
    QImage image(static_cast<uchar*>(data), width, height, stride, format);
    if (image.isNull()) return nullptr;
    if (format == QImage::Format_Indexed8) image.setColorTable(GreyTable(256));
    if (format == QImage::Format_Mono) image.setColorTable(GreyTable(2));
    auto* bitmap = new (std::nothrow) GpBitmap;
    if (!bitmap) return nullptr;
    bitmap->image = image;
    bitmap->pixelFormat = pixelFormat;
    return bitmap;
}

GpBitmap* Gdiplus_LoadBitmapFromData(const void* bytes, size_t count) {
    if (!bytes || count == 0 || count > static_cast<size_t>(INT32_MAX)) return nullptr;
    QByteArray copy(static_cast<const char*>(bytes), static_cast<qsizetype>(count));
    QBuffer stream(&copy);
    stream.open(QIODevice::ReadOnly);
    QImageReader reader(&stream);
    GpBitmap* bitmap = AdoptDecoded(reader.read());
    if (bitmap) bitmap->encodedBytes = std::move(copy);
    return bitmap;
}

GpBitmap* Gdiplus_LoadBitmapFromResourceW(void* /*module*/, const wchar_t* type, uint32_t id) {
    if (!type || id == 0) return nullptr;
    QFile resource(QStringLiteral(":/%1/%2").arg(FromWide(type)).arg(id));
    if (!resource.open(QIODevice::ReadOnly)) return nullptr;
    const QByteArray bytes = resource.readAll();
    return Gdiplus_LoadBitmapFromData(bytes.constData(), static_cast<size_t>(bytes.size()));
}

GpBitmap* Gdiplus_LoadBitmapFromResourceA(void* module, const char* type, int id) {
    if (!type || id <= 0) return nullptr;
    std::vector<wchar_t> wide(strlen(type) + 1);
    ToWide(QString::fromUtf8(type), wide.data(), static_cast<int>(wide.size()));
    return Gdiplus_LoadBitmapFromResourceW(module, wide.data(), static_cast<uint32_t>(id));
}

GpBitmap* Gdiplus_LoadBitmapFromFileW(const wchar_t* path) {
    if (!path) return nullptr;
    const QString file = FromWide(path);
    const QFileInfo info(file);
    if (!info.exists() || !info.isFile()) return nullptr;
    QImageReader reader(file);
    return AdoptDecoded(reader.read());
}

GpBitmap* Gdiplus_LoadBitmapFromFileA(const char* path) {
    if (!path) return nullptr;
    wchar_t wide[MAX_PATH_LENGTH];
    ToWide(QString::fromUtf8(path), wide, MAX_PATH_LENGTH);
    return Gdiplus_LoadBitmapFromFileW(wide);
}

int Gdiplus_SaveBitmapToFileW(GpBitmap* bitmap, const wchar_t* path) {
    if (!bitmap || !path) return 0;
    const QString file = FromWide(path);
    const Encoder* encoder = FindEncoder(QLatin1String(MimeOfType(PictureTypeOfName(file))));
    if (!encoder) return 0;
    return Save(bitmap, file, *encoder) ? 1 : 0;
}

int Gdiplus_SaveBitmapToFileA(GpBitmap* bitmap, const char* path) {
    if (!bitmap || !path) return 0;
    wchar_t wide[MAX_PATH_LENGTH];
    ToWide(QString::fromUtf8(path), wide, MAX_PATH_LENGTH);
    return Gdiplus_SaveBitmapToFileW(bitmap, wide);
}

// ---- alpha ----

GpRegion* Gdiplus_CreateRgnFromBitmap(GpBitmap* bitmap, int alphaThreshold) {
    if (!bitmap || bitmap->image.isNull()) return nullptr;
    const QImage locked = bitmap->image.convertToFormat(QImage::Format_ARGB32);
    if (locked.isNull()) return nullptr;
    auto* out = new (std::nothrow) GpRegion;
    if (!out) return nullptr;
    // Runs are collected as 1-pixel-high rectangles and united in batches of 2000.
    constexpr size_t RUN_BATCH = 2000;
    std::vector<QRect> runs;
    runs.reserve(100);
    auto flush = [&] {
        if (runs.empty()) return;
        QRegion part;
        part.setRects(runs.data(), static_cast<int>(runs.size()));
        out->region |= part;
        runs.clear();
    };
    for (int y = 0; y < locked.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(locked.constScanLine(y));
        int x = 0;
        while (x < locked.width()) {
            while (x < locked.width() && qAlpha(line[x]) < alphaThreshold) ++x;
            const int start = x;
            while (x < locked.width() && qAlpha(line[x]) >= alphaThreshold) ++x;
            if (x > start) {
                runs.emplace_back(start, y, x - start, 1);
                if (runs.size() == RUN_BATCH) flush();
            }
        }
    }
    flush();
    return out;
}

int Gdiplus_SetBitmapAlpha(GpBitmap* bitmap, const GpRECT* rect, int newAlpha, int lowAlpha, int highAlpha) {
    if (!bitmap || bitmap->image.isNull()) return 0;
    const QRect part = SourceRect(bitmap, rect).intersected(bitmap->image.rect());
    if (part.isEmpty()) return 0;
    // Work on the bitmap's own pixels (also when they are the caller's) in 32-bit
    // ARGB, writing other formats back afterwards as a locked bitmap would.
    const QImage::Format original = bitmap->image.format();
    const bool direct = original == QImage::Format_ARGB32;
    QImage converted;
    if (!direct) converted = bitmap->image.convertToFormat(QImage::Format_ARGB32);
    QImage& image = direct ? bitmap->image : converted;
    const auto alpha = static_cast<QRgb>(newAlpha & 0xFF) << 24;
    for (int y = part.top(); y <= part.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = part.left(); x <= part.right(); ++x) {
            const int a = qAlpha(line[x]);
            if (a >= lowAlpha && a <= highAlpha) line[x] = (line[x] & 0x00FFFFFFu) | alpha;
        }
    }
    if (!direct) {
        bitmap->image = (original == QImage::Format_Indexed8 || original == QImage::Format_Mono)
                            ? converted.convertToFormat(original, bitmap->image.colorTable())
                            : converted.convertToFormat(original);
    }
    return 1;
}

int Gdiplus_BitmapOK(GpBitmap* bitmap) {
    if (!bitmap) return 0;
    const int ok = bitmap->lastStatus == GP_OK && !bitmap->image.isNull();
    bitmap->lastStatus = GP_OK;
    return ok;
}

int Gdiplus_BitmapLastError(GpBitmap* bitmap) {
    if (!bitmap) return GP_GENERIC_ERROR;
    const int status = bitmap->lastStatus;
    bitmap->lastStatus = GP_OK;
    return status;
}

void Gdiplus_DeleteBitmap(GpBitmap* bitmap) { delete bitmap; }

// ---- object helpers ----

int GpBitmap_GetWidth(const GpBitmap* bitmap) { return bitmap ? bitmap->image.width() : 0; }
int GpBitmap_GetHeight(const GpBitmap* bitmap) { return bitmap ? bitmap->image.height() : 0; }
int GpBitmap_GetPixelFormat(const GpBitmap* bitmap) { return bitmap ? bitmap->pixelFormat : 0; }

uint32_t GpBitmap_GetPixel(const GpBitmap* bitmap, int x, int y) {
    if (!bitmap || !bitmap->image.valid(x, y)) return 0;
    return bitmap->image.pixel(x, y);
}

GpGraphics* GpGraphics_FromBitmap(GpBitmap* bitmap) {
    if (!bitmap || bitmap->image.isNull() || bitmap->image.format() == QImage::Format_Indexed8 ||
        bitmap->image.format() == QImage::Format_Mono)
        return nullptr;
    auto owned = std::make_unique<QPainter>(&bitmap->image);
    if (!owned->isActive()) return nullptr;
    auto* graphics = new GpGraphics(owned.get());
    graphics->owned = std::move(owned);
    return graphics;
}

int GpGraphics_LastStatus(GpGraphics* graphics) { return graphics ? graphics->lastStatus : GP_GENERIC_ERROR; }
void GpGraphics_Delete(GpGraphics* graphics) { delete graphics; }

GpBrush* GpBrush_CreateSolid(uint32_t argb) {
    auto* brush = new (std::nothrow) GpBrush;
    if (brush) brush->brush = QBrush(QColor::fromRgba(argb));
    return brush;
}
void GpBrush_Delete(GpBrush* brush) { delete brush; }

GpFont* GpFont_Create(const wchar_t* faceName, float pointSize, int fontStyle) {
    if (!(pointSize > 0)) return nullptr;
    auto* font = new (std::nothrow) GpFont;
    if (font) font->font = MakeFont(FromWide(faceName), pointSize, fontStyle);
    return font;
}
void GpFont_Delete(GpFont* font) { delete font; }

GpStringFormat* GpStringFormat_Create(int align, int lineAlign, int flags) {
    auto* format = new (std::nothrow) GpStringFormat;
    if (format) {
        format->align = align;
        format->lineAlign = lineAlign;
        format->flags = flags;
    }
    return format;
}
void GpStringFormat_Delete(GpStringFormat* format) { delete format; }

int GpRegion_GetRects(const GpRegion* region, GpRECT* rects, int max) {
    if (!region) return 0;
    int count = 0;
    for (const QRect& r : region->region) {
        if (rects && count < max) rects[count] = {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
        ++count;
    }
    return count;
}

int GpRegion_Contains(const GpRegion* region, int x, int y) {
    return region && region->region.contains(QPoint(x, y)) ? 1 : 0;
}

void GpRegion_Delete(GpRegion* region) { delete region; }
