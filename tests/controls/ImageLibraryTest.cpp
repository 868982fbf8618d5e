#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "controls/imagelib/GdiplusObjects.h"
#include "support/TempDir.h"

namespace {

struct BitmapDeleter {
    void operator()(GpBitmap* b) const { Gdiplus_DeleteBitmap(b); }
};
using Bitmap = std::unique_ptr<GpBitmap, BitmapDeleter>;

struct GraphicsDeleter {
    void operator()(GpGraphics* g) const { GpGraphics_Delete(g); }
};
using Graphics = std::unique_ptr<GpGraphics, GraphicsDeleter>;

std::wstring Wide(const std::string& s) { return QString::fromStdString(s).toStdWString(); }

// A 32-bit ARGB bitmap whose pixel (x, y) is opaque (x * 8, y * 8, 0).
Bitmap Gradient(int w, int h) {
    Bitmap b(Gdiplus_CreateBitmap(w, h, PIXEL_FORMAT_32BPP_ARGB));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b->image.setPixel(x, y, qRgba(x * 8 % 256, y * 8 % 256, 0, 255));
    return b;
}

QRgb Pixel(const Bitmap& b, int x, int y) { return GpBitmap_GetPixel(b.get(), x, y); }

}  // namespace

TEST(ImageLibrary, PictureTypesByExtension) {
    struct Case {
        const char* name;
        int type;
    } cases[] = {{"a.bmp", 0}, {"a.JPG", 1}, {"a.jpeg", 1}, {"a.gif", 2}, {"a.tiff", 3}, {"photo.TIF", 4},
                 {"a.png", 4},  {"a.webp", 4}, {"noextension", 4}, {"dir.d/file.Bmp", 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(Gdiplus_GetPictureTypeByFileNameA(c.name), c.type) << c.name;
        EXPECT_EQ(Gdiplus_GetPictureTypeByFileNameW(Wide(c.name).c_str()), c.type) << c.name;
    }
}

TEST(ImageLibrary, EncodersByMimeAndPictureType) {
    GpCLSID png{}, byMime{}, bmp{}, other{};
    ASSERT_EQ(Gdiplus_GetEncoderClsidByPictureType(PICTURE_TYPE_PNG, &png), 1);
    EXPECT_EQ(Gdiplus_GetEncoderClsidByFormatTypeA("IMAGE/Png", &byMime), 1) << "MIME types compare without case";
    EXPECT_EQ(png.Data1, byMime.Data1);
    EXPECT_EQ(Gdiplus_GetEncoderClsidByFormatTypeW(L"image/png", &byMime), 1);
    ASSERT_EQ(Gdiplus_GetEncoderClsidByPictureType(PICTURE_TYPE_BMP, &bmp), 1);
    ASSERT_EQ(Gdiplus_GetEncoderClsidByPictureType(77, &other), 1) << "unknown types use the BMP encoder";
    EXPECT_EQ(other.Data1, bmp.Data1);
    EXPECT_NE(bmp.Data1, png.Data1);
    EXPECT_EQ(Gdiplus_GetEncoderClsidByFormatTypeA("image/x-nothing", &other), 0);
    EXPECT_EQ(Gdiplus_GetEncoderClsidByFormatTypeA(nullptr, &other), 0);
}

TEST(ImageLibrary, ConvertWritesTheTypesExtension) {
    TempDir dir;
    Bitmap source = Gradient(12, 8);
    const std::string sourcePath = dir.File("photo.TIF");
    ASSERT_EQ(Gdiplus_SaveBitmapToFileA(source.get(), sourcePath.c_str()), 1);
    // photo.TIF is of type 4 by its name, so it was written as PNG.
    EXPECT_EQ(ReadWholeFile(sourcePath).substr(1, 3), "PNG");

    struct Case {
        int type;
        const char* extension;
    } cases[] = {{PICTURE_TYPE_TIFF, ".tif"}, {PICTURE_TYPE_PNG, ".png"}, {PICTURE_TYPE_JPEG, ".jpg"},
                 {PICTURE_TYPE_BMP, ".bmp"}, {PICTURE_TYPE_GIF, ".gif"}, {9, ".bmp"}};
    for (const Case& c : cases) {
        wchar_t target[260];
        const std::wstring folder = Wide(dir.Path());
        wcscpy(target, folder.c_str());
        const int result = Gdiplus_ConvertImageFormatW(Wide(sourcePath).c_str(), target, c.type);
        const QString written = QString::fromWCharArray(target);
        EXPECT_TRUE(written.startsWith(QString::fromStdString(dir.Path()) + "/Temp_")) << written.toStdString();
        EXPECT_TRUE(written.endsWith(QLatin1String(c.extension))) << written.toStdString();
        // Success exactly when this system has the encoder, and then the file decodes.
        const int installed = Gdiplus_GetEncoderClsidByPictureType(c.type, nullptr);
        EXPECT_EQ(result, installed) << c.extension;
        if (result) {
            const QImage back(written);
            EXPECT_EQ(back.size(), QSize(12, 8)) << c.extension;
        }
    }
    wchar_t target[260] = L"";
    EXPECT_EQ(Gdiplus_ConvertImageFormatW(nullptr, target, 4), 0);
    EXPECT_EQ(Gdiplus_ConvertImageFormatW(L"/no/such/file.png", target, 4), 0);
}

// Runs body with the current folder set to folder, restoring it afterwards.
template <typename Body>
void InFolder(const std::string& folder, Body body) {
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(folder)));
    body();
    QDir::setCurrent(previous);
}

TEST(ImageLibrary, ConvertTakesOnlyAFolderFromItsTargetBuffer) {
    TempDir dir;
    TempDir work;
    Bitmap source = Gradient(6, 4);
    const std::string sourcePath = dir.File("in.png");
    ASSERT_EQ(Gdiplus_SaveBitmapToFileA(source.get(), sourcePath.c_str()), 1);
    wchar_t target[260];
    wcscpy(target, Wide(dir.Path()).c_str());
    ASSERT_EQ(Gdiplus_ConvertImageFormatW(Wide(sourcePath).c_str(), target, PICTURE_TYPE_BMP), 1);
    const QString first = QString::fromWCharArray(target);
    EXPECT_TRUE(QFileInfo(first).isFile());

    // The buffer reused for a second conversion holds a file name, not a folder:
    // the file goes into the current folder.
    InFolder(work.Path(), [&] {
        EXPECT_EQ(Gdiplus_ConvertImageFormatW(Wide(sourcePath).c_str(), target, PICTURE_TYPE_BMP), 1);
    });
    const QString second = QString::fromWCharArray(target);
    EXPECT_TRUE(second.startsWith("Temp_") && second.endsWith(".bmp")) << second.toStdString();
    EXPECT_TRUE(QFileInfo(QString::fromStdString(work.Path()) + "/" + second).isFile());

    // Buffers full of text up to their last character, followed by unreadable memory:
    // no more than their 260 characters are read.
    const long page = sysconf(_SC_PAGESIZE);
    void* pages = mmap(nullptr, static_cast<size_t>(page) * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    auto* guard = static_cast<char*>(pages) + page;
    ASSERT_EQ(mprotect(guard, static_cast<size_t>(page), PROT_NONE), 0);
    auto* wide = reinterpret_cast<wchar_t*>(guard) - 260;
    std::fill(wide, wide + 260, L'x');
    auto* narrow = guard - 260;
    InFolder(work.Path(), [&] {
        EXPECT_EQ(Gdiplus_ConvertImageFormatW(Wide(sourcePath).c_str(), wide, PICTURE_TYPE_BMP), 1);
        EXPECT_TRUE(QString::fromWCharArray(wide).startsWith("Temp_"));
        std::fill(narrow, narrow + 260, 'x');
        EXPECT_EQ(Gdiplus_ConvertImageFormatA(sourcePath.c_str(), narrow, PICTURE_TYPE_BMP), 1);
        EXPECT_EQ(std::string(narrow).rfind("Temp_", 0), 0u);
    });
    munmap(pages, static_cast<size_t>(page) * 2);
}

TEST(ImageLibrary, ResizeSizesByMode) {
    Bitmap image = Gradient(200, 100);
    struct Case {
        int mode;
        int w, h;
    } cases[] = {{0, 100, 100}, {1, 100, 50}, {2, 200, 100}, {3, 100, 50}, {4, 200, 100}};
    for (const Case& c : cases) {
        Bitmap out(Gdiplus_ResizeBitmap(image.get(), 100, 100, c.mode, 0xFF0000FF));
        ASSERT_TRUE(out) << c.mode;
        EXPECT_EQ(GpBitmap_GetWidth(out.get()), c.w) << c.mode;
        EXPECT_EQ(GpBitmap_GetHeight(out.get()), c.h) << c.mode;
        EXPECT_EQ(GpBitmap_GetPixelFormat(out.get()), PIXEL_FORMAT_32BPP_ARGB);
    }
    EXPECT_EQ(Gdiplus_ResizeBitmap(image.get(), 100, 100, 5, 0), nullptr);
    EXPECT_EQ(Gdiplus_ResizeBitmap(image.get(), 0, 100, 0, 0), nullptr);
    EXPECT_EQ(Gdiplus_ResizeBitmap(nullptr, 10, 10, 0, 0), nullptr);

    // Mode 1 shows the whole image: a red left half and a blue right half keep their places.
    Bitmap halves(Gdiplus_CreateColorBmp(200, 100, 0xFFFF0000));
    for (int y = 0; y < 100; ++y)
        for (int x = 100; x < 200; ++x) halves->image.setPixel(x, y, 0xFF0000FF);
    Bitmap fit(Gdiplus_ResizeBitmap(halves.get(), 100, 100, 1, 0));
    EXPECT_EQ(Pixel(fit, 2, 25), 0xFFFF0000u);
    EXPECT_EQ(Pixel(fit, 97, 25), 0xFF0000FFu);
    EXPECT_EQ(Pixel(fit, 97, 49), 0xFF0000FFu);
}

TEST(ImageLibrary, DisposeByMode) {
    Bitmap tile = Gradient(30, 30);
    Bitmap tiled(Gdiplus_DisposeBitmapByMode(tile.get(), 100, 50, 2, 0));
    ASSERT_TRUE(tiled);
    EXPECT_EQ(GpBitmap_GetWidth(tiled.get()), 100);
    EXPECT_EQ(GpBitmap_GetHeight(tiled.get()), 50);
    // Four columns and two rows; the edge tiles are cut (10 and 20 pixels), not scaled.
    struct Probe {
        int x, y, sx, sy;
    } probes[] = {{0, 0, 0, 0}, {29, 29, 29, 29}, {30, 0, 0, 0}, {90, 30, 0, 0}, {99, 49, 9, 19}, {65, 45, 5, 15}};
    for (const Probe& p : probes) EXPECT_EQ(Pixel(tiled, p.x, p.y), Pixel(tile, p.sx, p.sy)) << p.x << "," << p.y;

    // Centring without scaling: a 30 x 30 image in 100 x 50 sits at (35, 10).
    Bitmap centred(Gdiplus_DisposeBitmapByMode(tile.get(), 100, 50, 3, 0xFF0000FF));
    EXPECT_EQ(Pixel(centred, 34, 10), 0xFF0000FFu);
    EXPECT_EQ(Pixel(centred, 35, 10), Pixel(tile, 0, 0));
    EXPECT_EQ(Pixel(centred, 64, 39), Pixel(tile, 29, 29));
    EXPECT_EQ(Pixel(centred, 65, 39), 0xFF0000FFu);
    // Larger than the target: the centre part.
    Bitmap cut(Gdiplus_DisposeBitmapByMode(tile.get(), 10, 10, 3, 0));
    EXPECT_EQ(Pixel(cut, 0, 0), Pixel(tile, 10, 10));

    Bitmap crop(Gdiplus_DisposeBitmapByMode(tile.get(), 60, 20, 0, 0));
    EXPECT_EQ(GpBitmap_GetWidth(crop.get()), 60);
    Bitmap fit(Gdiplus_DisposeBitmapByMode(tile.get(), 60, 20, 1, 0));
    EXPECT_EQ(GpBitmap_GetWidth(fit.get()), 20);
    Bitmap stretched(Gdiplus_DisposeBitmapByMode(tile.get(), 60, 20, 4, 0));
    EXPECT_EQ(GpBitmap_GetHeight(stretched.get()), 20);
    EXPECT_EQ(Gdiplus_DisposeBitmapByMode(tile.get(), 60, 20, 5, 0), nullptr);
}

TEST(ImageLibrary, CalcFontSize) {
    Bitmap canvas(Gdiplus_CreateBitmap(400, 100, PIXEL_FORMAT_32BPP_ARGB));
    Graphics g(GpGraphics_FromBitmap(canvas.get()));
    ASSERT_TRUE(g);
    const wchar_t* face = L"黑体";
    const GpSizeF roomy{400, 100};
    EXPECT_EQ(Gdiplus_CalcFontSize(g.get(), L"Range VS Time", &roomy, face, 12, 0, nullptr), 12);
    const GpSizeF narrow{60, 100};
    const int smaller = Gdiplus_CalcFontSize(g.get(), L"Range VS Time", &narrow, face, 12, 0, nullptr);
    EXPECT_GT(smaller, 0);
    EXPECT_LT(smaller, 12);
    // The size found fits and the next one up does not.
    const GpSizeF exact{60, 100};
    EXPECT_EQ(Gdiplus_CalcFontSize(g.get(), L"Range VS Time", &exact, face, smaller + 1, 0, nullptr), smaller);
    const GpSizeF tiny{2, 2};
    EXPECT_EQ(Gdiplus_CalcFontSize(g.get(), L"Range VS Time", &tiny, face, 12, 0, nullptr), 0);
    EXPECT_EQ(Gdiplus_CalcFontSize(nullptr, L"x", &roomy, face, 12, 0, nullptr), 0);
}

TEST(ImageLibrary, SetBitmapAlphaByRange) {
    Bitmap b(Gdiplus_CreateBitmap(4, 1, PIXEL_FORMAT_32BPP_ARGB));
    const QRgb pixels[4] = {qRgba(10, 20, 30, 0), qRgba(40, 50, 60, 1), qRgba(70, 80, 90, 200), qRgba(1, 2, 3, 255)};
    for (int x = 0; x < 4; ++x) b->image.setPixel(x, 0, pixels[x]);

    ASSERT_EQ(Gdiplus_SetBitmapAlpha(b.get(), nullptr, 128, 0, 0), 1);
    EXPECT_EQ(Pixel(b, 0, 0), qRgba(10, 20, 30, 128)) << "only fully transparent pixels change, colour kept";
    EXPECT_EQ(Pixel(b, 1, 0), pixels[1]);
    EXPECT_EQ(Pixel(b, 3, 0), pixels[3]);

    const GpRECT firstThree{0, 0, 3, 1};
    Gdiplus_SetBitmapAlpha(b.get(), &firstThree, 7, 1, 255);
    EXPECT_EQ(qAlpha(Pixel(b, 1, 0)), 7);
    EXPECT_EQ(qAlpha(Pixel(b, 2, 0)), 7);
    EXPECT_EQ(qAlpha(Pixel(b, 3, 0)), 255) << "outside the rectangle";
}

TEST(ImageLibrary, RegionFromAlpha) {
    Bitmap b(Gdiplus_CreateBitmap(10, 4, PIXEL_FORMAT_32BPP_ARGB));  // all alpha 0
    for (int x = 2; x < 5; ++x) b->image.setPixel(x, 1, qRgba(0, 0, 0, 255));
    b->image.setPixel(7, 2, qRgba(0, 0, 0, 254));

    std::unique_ptr<GpRegion, void (*)(GpRegion*)> all(Gdiplus_CreateRgnFromBitmap(b.get(), 0), GpRegion_Delete);
    ASSERT_TRUE(all);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 10; ++x) EXPECT_TRUE(GpRegion_Contains(all.get(), x, y)) << x << "," << y;

    std::unique_ptr<GpRegion, void (*)(GpRegion*)> opaque(Gdiplus_CreateRgnFromBitmap(b.get(), 255), GpRegion_Delete);
    std::vector<GpRECT> rects(8);
    ASSERT_EQ(GpRegion_GetRects(opaque.get(), rects.data(), 8), 1);
    EXPECT_EQ(rects[0].left, 2);
    EXPECT_EQ(rects[0].right, 5);
    EXPECT_EQ(rects[0].top, 1);
    EXPECT_EQ(rects[0].bottom, 2);
    EXPECT_FALSE(GpRegion_Contains(opaque.get(), 7, 2));

    // More than one batch of runs: a checkerboard of 100 x 100 has 5000 runs.
    Bitmap board(Gdiplus_CreateBitmap(100, 100, PIXEL_FORMAT_32BPP_ARGB));
    for (int y = 0; y < 100; ++y)
        for (int x = (y % 2); x < 100; x += 2) board->image.setPixel(x, y, qRgba(0, 0, 0, 255));
    std::unique_ptr<GpRegion, void (*)(GpRegion*)> checker(Gdiplus_CreateRgnFromBitmap(board.get(), 128),
                                                           GpRegion_Delete);
    int inside = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) inside += GpRegion_Contains(checker.get(), x, y);
    EXPECT_EQ(inside, 5000);
    EXPECT_TRUE(GpRegion_Contains(checker.get(), 99, 99));
    EXPECT_FALSE(GpRegion_Contains(checker.get(), 98, 99));
}

TEST(ImageLibrary, GrayOnKnownPixels) {
    // (77 * 200 + 150 * 100 + 29 * 50) >> 8 = 124
    Bitmap argb(Gdiplus_CreateBitmap(2, 1, PIXEL_FORMAT_32BPP_ARGB));
    argb->image.setPixel(0, 0, qRgba(200, 100, 50, 128));
    argb->image.setPixel(1, 0, qRgba(255, 255, 255, 255));
    Bitmap grey(Gdiplus_Gray(argb.get()));
    EXPECT_EQ(Pixel(grey, 0, 0), qRgba(124, 124, 124, 128));
    EXPECT_EQ(Pixel(grey, 1, 0), qRgba(255, 255, 255, 255));
    EXPECT_EQ(Pixel(argb, 0, 0), qRgba(200, 100, 50, 128)) << "the source is untouched";

    Bitmap rgb(Gdiplus_ModifyBitmapFormat(argb.get(), PIXEL_FORMAT_24BPP_RGB));
    ASSERT_EQ(GpBitmap_GetPixelFormat(rgb.get()), PIXEL_FORMAT_24BPP_RGB);
    const uchar* bytes = rgb->image.constScanLine(0);
    EXPECT_EQ(bytes[0], 50) << "24-bit pixels are stored B, G, R";
    EXPECT_EQ(bytes[2], 200);
    Bitmap grey24(Gdiplus_Gray(rgb.get()));
    EXPECT_EQ(Pixel(grey24, 0, 0), qRgb(124, 124, 124));

    Bitmap indexed(Gdiplus_ModifyBitmapFormat(argb.get(), PIXEL_FORMAT_8BPP_INDEXED));
    Bitmap greyIndexed(Gdiplus_Gray(indexed.get()));
    EXPECT_EQ(greyIndexed->image.constScanLine(0)[0], indexed->image.constScanLine(0)[0]) << "8-bit data is copied";

    Bitmap rgb32(Gdiplus_ModifyBitmapFormat(argb.get(), PIXEL_FORMAT_32BPP_RGB));
    Bitmap untouched(Gdiplus_Gray(rgb32.get()));
    EXPECT_EQ(Pixel(untouched, 1, 0) & 0xFFFFFF, 0u) << "other formats keep the new bitmap's pixels";
}

TEST(ImageLibrary, DrawAlphaBitmapFactorIsOver256) {
    Bitmap red(Gdiplus_CreateColorBmp(4, 4, 0xFFFF0000));
    struct Case {
        int alpha;
        int expectedRed;
    } cases[] = {{255, 254}, {128, 128}, {0x180, 128}, {0, 0}, {64, 64}};
    for (const Case& c : cases) {
        Bitmap canvas(Gdiplus_CreateColorBmp(10, 10, 0xFF000000));
        Graphics g(GpGraphics_FromBitmap(canvas.get()));
        const GpRECT dest{0, 0, 10, 10};
        Gdiplus_DrawAlphaBitmap(g.get(), &dest, red.get(), nullptr, 0, c.alpha);
        g.reset();
        // Without stretching the 4 x 4 picture is centred: (3, 3) .. (6, 6).
        EXPECT_NEAR(qRed(Pixel(canvas, 3, 3)), c.expectedRed, 1) << c.alpha;
        EXPECT_NEAR(qRed(Pixel(canvas, 6, 6)), c.expectedRed, 1) << c.alpha;
        EXPECT_EQ(qRed(Pixel(canvas, 2, 3)), 0) << c.alpha;
        EXPECT_EQ(qRed(Pixel(canvas, 7, 7)), 0) << c.alpha;
    }
    // alpha 255 must not be fully opaque: exactly 254 on black.
    Bitmap canvas(Gdiplus_CreateColorBmp(4, 4, 0xFF000000));
    Graphics g(GpGraphics_FromBitmap(canvas.get()));
    const GpRECT dest{0, 0, 4, 4};
    Gdiplus_DrawAlphaBitmap(g.get(), &dest, red.get(), nullptr, 1, 255);
    g.reset();
    EXPECT_EQ(qRed(Pixel(canvas, 1, 1)), 254);
}

TEST(ImageLibrary, DrawBitmapModes) {
    Bitmap tile = Gradient(30, 30);
    // Mode 3: no scaling, a small picture centred in a larger destination.
    Bitmap canvas(Gdiplus_CreateColorBmp(50, 50, 0xFF0000FF));
    Graphics g(GpGraphics_FromBitmap(canvas.get()));
    const GpRECT dest{0, 0, 50, 50};
    Gdiplus_DrawBitmap(g.get(), &dest, tile.get(), nullptr, 3);
    EXPECT_EQ(Pixel(canvas, 10, 10), Pixel(tile, 0, 0));
    EXPECT_EQ(Pixel(canvas, 39, 39), Pixel(tile, 29, 29));
    EXPECT_EQ(Pixel(canvas, 9, 9), 0xFF0000FFu);

    // Mode 2: tiles from the origin, unscaled inside the destination.
    Gdiplus_DrawBitmap(g.get(), &dest, tile.get(), nullptr, 2);
    EXPECT_EQ(Pixel(canvas, 5, 5), Pixel(tile, 5, 5));
    EXPECT_EQ(Pixel(canvas, 29, 0), Pixel(tile, 29, 0));

    // Mode 1: letterboxed; a 30 x 30 picture in 50 x 20 is drawn 20 x 20 at x 15.
    Bitmap wide(Gdiplus_CreateColorBmp(50, 20, 0xFF0000FF));
    Graphics gw(GpGraphics_FromBitmap(wide.get()));
    const GpRECT wideDest{0, 0, 50, 20};
    Gdiplus_DrawBitmap(gw.get(), &wideDest, tile.get(), nullptr, 1);
    gw.reset();
    EXPECT_EQ(Pixel(wide, 14, 10), 0xFF0000FFu);
    EXPECT_NE(Pixel(wide, 16, 10), 0xFF0000FFu);
    EXPECT_EQ(Pixel(wide, 35, 10), 0xFF0000FFu);

    // Null arguments return at once.
    Gdiplus_DrawBitmap(nullptr, &dest, tile.get(), nullptr, 0);
    Gdiplus_DrawBitmap(g.get(), &dest, nullptr, nullptr, 0);
}

TEST(ImageLibrary, LoadFromDataKeepsItsOwnBytes) {
    QImage source(6, 5, QImage::Format_ARGB32);
    source.fill(qRgba(1, 2, 3, 200));
    QByteArray encoded;
    QBuffer out(&encoded);
    out.open(QIODevice::WriteOnly);
    ASSERT_TRUE(source.save(&out, "PNG"));

    std::vector<char> bytes(encoded.begin(), encoded.end());
    Bitmap b(Gdiplus_LoadBitmapFromData(bytes.data(), bytes.size()));
    std::fill(bytes.begin(), bytes.end(), 0);
    bytes.clear();
    bytes.shrink_to_fit();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->encodedBytes, encoded);
    EXPECT_EQ(GpBitmap_GetPixelFormat(b.get()), PIXEL_FORMAT_32BPP_ARGB);
    Bitmap copy(Gdiplus_CopyBitmap(b.get()));
    EXPECT_EQ(Pixel(copy, 5, 4), qRgba(1, 2, 3, 200));

    EXPECT_EQ(Gdiplus_LoadBitmapFromData(nullptr, 10), nullptr);
    EXPECT_EQ(Gdiplus_LoadBitmapFromData("x", 0), nullptr);
    EXPECT_EQ(Gdiplus_LoadBitmapFromData("not an image", 12), nullptr);
    EXPECT_EQ(Gdiplus_LoadBitmapFromResourceW(nullptr, L"PNG", 0), nullptr);
    EXPECT_EQ(Gdiplus_LoadBitmapFromResourceA(nullptr, "PNG", -1), nullptr);
}

TEST(ImageLibrary, ImageBitsAreBorrowedAndCopiesOwnTheirs) {
    std::vector<uint32_t> pixels(4 * 2, 0x00112233);  // alpha 0
    Bitmap b(Gdiplus_LoadBitmapFromImageBits(pixels.data(), 4, 2, 16, PIXEL_FORMAT_32BPP_ARGB));
    ASSERT_TRUE(b);
    Bitmap copy(Gdiplus_CopyBitmap(b.get()));
    Gdiplus_SetBitmapAlpha(b.get(), nullptr, 0xFF, 0, 0);
    EXPECT_EQ(pixels[5], 0xFF112233u) << "the bitmap works on the caller's pixels";
    EXPECT_EQ(Pixel(copy, 1, 1), 0x00112233u) << "a copy owns its pixels";
    EXPECT_EQ(Gdiplus_LoadBitmapFromImageBits(pixels.data(), 4, 2, 0, PIXEL_FORMAT_32BPP_ARGB), nullptr);
    EXPECT_EQ(Gdiplus_LoadBitmapFromImageBits(nullptr, 4, 2, 16, PIXEL_FORMAT_32BPP_ARGB), nullptr);
}

TEST(ImageLibrary, FilesAndStatus) {
    TempDir dir;
    Bitmap argb = Gradient(8, 8);
    Bitmap b(Gdiplus_ModifyBitmapFormat(argb.get(), PIXEL_FORMAT_24BPP_RGB));
    const std::string png = dir.File("pic.png");
    ASSERT_EQ(Gdiplus_SaveBitmapToFileW(b.get(), Wide(png).c_str()), 1);
    Bitmap back(Gdiplus_LoadBitmapFromFileA(png.c_str()));
    ASSERT_TRUE(back);
    EXPECT_EQ(Pixel(back, 7, 3), Pixel(b, 7, 3));
    EXPECT_EQ(GpBitmap_GetPixelFormat(back.get()), PIXEL_FORMAT_24BPP_RGB) << "a PNG without alpha decodes as 24-bit";

    EXPECT_EQ(Gdiplus_LoadBitmapFromFileW(Wide(dir.File("missing.png")).c_str()), nullptr);
    EXPECT_EQ(Gdiplus_LoadBitmapFromFileW(nullptr), nullptr);
    EXPECT_EQ(Gdiplus_SaveBitmapToFileA(b.get(), dir.File("no/such/folder/x.png").c_str()), 0);
    EXPECT_EQ(Gdiplus_BitmapLastError(b.get()), GP_GENERIC_ERROR) << "a failed save is the bitmap's last status";
    EXPECT_EQ(Gdiplus_BitmapLastError(b.get()), GP_OK) << "and reading it resets it";
    EXPECT_EQ(Gdiplus_BitmapOK(b.get()), 1);
    EXPECT_EQ(Gdiplus_BitmapOK(nullptr), 0);
    EXPECT_EQ(Gdiplus_BitmapLastError(nullptr), GP_GENERIC_ERROR);
    Gdiplus_DeleteBitmap(nullptr);
}

TEST(ImageLibrary, BufferCopyClipsAndConverts) {
    Bitmap b = Gradient(5, 3);
    const GpRECT rect{3, 1, 10, 10};  // clipped to (3, 1) .. (5, 3)
    std::vector<uint8_t> dest(2 * 16, 0xEE);
    ASSERT_EQ(Gdiplus_GetBitmapBuffer(b.get(), &rect, PIXEL_FORMAT_24BPP_RGB, dest.data(), 16), 1);
    // Row bytes ((2 * 24 + 31) / 32) * 4 = 8, then the stride.
    EXPECT_EQ(dest[2], 24) << "red of (3, 1) stored third";
    EXPECT_EQ(dest[1], 8);
    EXPECT_EQ(dest[16 + 2], 24);
    EXPECT_EQ(dest[16 + 1], 16);
    EXPECT_EQ(dest[8], 0xEE) << "nothing written past the row bytes";

    Bitmap h(Gdiplus_GetHBitmap(b.get(), 0xFF00FF00, 1));
    EXPECT_EQ(GpBitmap_GetWidth(h.get()), 5);
    EXPECT_EQ(Pixel(h, 4, 2) & 0xFFFFFF, Pixel(b, 4, 2) & 0xFFFFFF);
    EXPECT_EQ(Gdiplus_GetStringFormat(1025), 1);
    EXPECT_EQ(Gdiplus_GetStringFormat(0x10000 | 1037), 1);
    EXPECT_EQ(Gdiplus_GetStringFormat(1033), 0);

    Bitmap part(Gdiplus_GetBitmapFromBitmap(b.get(), 1, 1, 2, 2, nullptr));
    EXPECT_EQ(Pixel(part, 0, 0), Pixel(b, 1, 1));
    const GpSIZE doubled{4, 4};
    const GpRECT r{1, 1, 3, 3};
    Bitmap big(Gdiplus_GetBitmapFromBitmapByRect(b.get(), &r, &doubled));
    EXPECT_EQ(GpBitmap_GetWidth(big.get()), 4);
}
