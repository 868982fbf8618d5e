#pragma once
/* Image functions of the tool, exported with C linkage from the shared library
 * palo520g_gdiplus so that other programs can call them too.
 *
 * Bitmaps, graphics, fonts, string formats, brushes and regions are opaque
 * handles. Every function that returns a new bitmap hands it to the caller, who
 * frees it with Gdiplus_DeleteBitmap; on failure it returns null. Wide ("W")
 * functions take wchar_t text, narrow ("A") ones UTF-8. Colours named ARGB are
 * 0xAARRGGBB. Pixel formats keep their platform codes (PIXEL_FORMAT_*); the
 * 32-bit ARGB format stores each pixel as the bytes B, G, R, A. */

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#if defined(_WIN32)
#define GDIPLUS_API __declspec(dllexport)
#else
#define GDIPLUS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct GpBitmap GpBitmap;
typedef struct GpGraphics GpGraphics;
typedef struct GpFont GpFont;
typedef struct GpStringFormat GpStringFormat;
typedef struct GpBrush GpBrush;
typedef struct GpRegion GpRegion;

typedef struct GpRECT {
    int32_t left, top, right, bottom;
} GpRECT;
typedef struct GpPOINT {
    int32_t x, y;
} GpPOINT;
typedef struct GpSIZE {
    int32_t cx, cy;
} GpSIZE;
typedef struct GpRectF {
    float X, Y, Width, Height;
} GpRectF;
typedef struct GpSizeF {
    float Width, Height;
} GpSizeF;
typedef struct GpCLSID {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
} GpCLSID;

enum {
    PIXEL_FORMAT_1BPP_INDEXED = 0x30101,
    PIXEL_FORMAT_8BPP_INDEXED = 0x30803,
    PIXEL_FORMAT_16BPP_RGB565 = 0x21005,
    PIXEL_FORMAT_24BPP_RGB = 0x21808,
    PIXEL_FORMAT_32BPP_RGB = 0x22009,
    PIXEL_FORMAT_32BPP_ARGB = 0x26200A,
    PIXEL_FORMAT_32BPP_PARGB = 0xE200B,
};

enum { PICTURE_TYPE_BMP = 0, PICTURE_TYPE_JPEG = 1, PICTURE_TYPE_GIF = 2, PICTURE_TYPE_TIFF = 3, PICTURE_TYPE_PNG = 4 };

/* String alignment (0 near, 1 centre, 2 far), format flags and font styles. */
enum { STRING_ALIGN_NEAR = 0, STRING_ALIGN_CENTER = 1, STRING_ALIGN_FAR = 2 };
enum { STRING_FORMAT_FLAG_NO_WRAP = 0x1000, STRING_FORMAT_FLAG_NO_CLIP = 0x4000 };
enum { FONT_STYLE_REGULAR = 0, FONT_STYLE_BOLD = 1, FONT_STYLE_ITALIC = 2, FONT_STYLE_UNDERLINE = 4, FONT_STYLE_STRIKEOUT = 8 };

/* Status codes kept as an object's last status. */
enum { GP_OK = 0, GP_GENERIC_ERROR = 1, GP_INVALID_PARAMETER = 2, GP_OUT_OF_MEMORY = 3, GP_WRONG_STATE = 8,
       GP_FILE_NOT_FOUND = 10, GP_UNKNOWN_IMAGE_FORMAT = 13 };

/* ---- the 42 image functions ---- */

/* Starts the image system (a GUI application object when the process has none);
 * returns the block that Gdiplus_DeInit takes back. */
GDIPLUS_API void* Gdiplus_Init(void);
GDIPLUS_API void Gdiplus_DeInit(void* block);

/* 1 and the class id of the first installed encoder of the MIME type (no case); 0 when none. */
GDIPLUS_API int Gdiplus_GetEncoderClsidByFormatTypeW(const wchar_t* mimeType, GpCLSID* clsid);
GDIPLUS_API int Gdiplus_GetEncoderClsidByFormatTypeA(const char* mimeType, GpCLSID* clsid);
GDIPLUS_API int Gdiplus_GetEncoderClsidByPictureType(int pictureType, GpCLSID* clsid);
/* Picture type of the file name's extension: bmp 0, jpeg/jpg 1, gif 2, tiff 3, anything else 4. */
GDIPLUS_API int Gdiplus_GetPictureTypeByFileNameW(const wchar_t* fileName);
GDIPLUS_API int Gdiplus_GetPictureTypeByFileNameA(const char* fileName);
/* Writes the source image as pictureType to "Temp_<date-time>.<ext>"; target
 * (room for 260 characters) receives that path. When target names an existing
 * folder on entry the file goes there, else into the current folder. 1 on success. */
GDIPLUS_API int Gdiplus_ConvertImageFormatW(const wchar_t* source, wchar_t* target, int pictureType);
GDIPLUS_API int Gdiplus_ConvertImageFormatA(const char* source, char* target, int pictureType);

GDIPLUS_API GpBitmap* Gdiplus_CreateBitmap(int width, int height, int pixelFormat);
GDIPLUS_API GpBitmap* Gdiplus_CreateColorBmp(int width, int height, uint32_t argb);
GDIPLUS_API GpBitmap* Gdiplus_CopyBitmap(GpBitmap* bitmap);
GDIPLUS_API GpBitmap* Gdiplus_ModifyBitmapFormat(GpBitmap* bitmap, int pixelFormat);
/* An opaque picture of the bitmap over the background colour, at the bit depth of
 * its pixel format (a new bitmap; free it with Gdiplus_DeleteBitmap). */
GDIPLUS_API GpBitmap* Gdiplus_GetHBitmap(GpBitmap* bitmap, uint32_t argbBackground, int topDown);
/* Copies the rectangle (clipped to the bitmap; null = all) in pixelFormat into
 * dest, one row of ((width * bits + 31) / 32) * 4 bytes per destStride. 1 on success. */
GDIPLUS_API int Gdiplus_GetBitmapBuffer(GpBitmap* bitmap, const GpRECT* rect, int pixelFormat, void* dest,
                                        int destStride);
GDIPLUS_API GpBitmap* Gdiplus_StretchBitmap(GpBitmap* bitmap, int width, int height);
/* Modes 0 stretch, 1 fit inside, 2 cover, 3 by width ratio, 4 by height ratio. */
GDIPLUS_API GpBitmap* Gdiplus_ResizeBitmap(GpBitmap* bitmap, int width, int height, int mode, uint32_t argbBackground);
/* Modes 0 centre crop, 1 fit inside, 2 tile, 3 centre without scaling, 4 stretch. */
GDIPLUS_API GpBitmap* Gdiplus_DisposeBitmapByMode(GpBitmap* bitmap, int width, int height, int mode,
                                                  uint32_t argbBackground);
GDIPLUS_API GpBitmap* Gdiplus_GetBitmapFromBitmap(GpBitmap* bitmap, int x, int y, int width, int height,
                                                  const GpSIZE* outSize);
GDIPLUS_API GpBitmap* Gdiplus_GetBitmapFromBitmapByRect(GpBitmap* bitmap, const GpRECT* rect, const GpSIZE* outSize);
/* Grey copy: (77 R + 150 G + 29 B) >> 8 in every colour byte, alpha kept. */
GDIPLUS_API GpBitmap* Gdiplus_Gray(GpBitmap* bitmap);
/* 1 for right-to-left languages 1025 and 1037 (low 16 bits), else 0. */
GDIPLUS_API int Gdiplus_GetStringFormat(uint32_t languageId);
GDIPLUS_API void Gdiplus_DrawText(GpGraphics* graphics, const wchar_t* text, const GpRectF* layout, uint32_t argb,
                                  const GpStringFormat* format, const GpFont* font);
/* The largest size from startSize down that fits the text into maxSize; 0 when even 1 does not. */
GDIPLUS_API int Gdiplus_CalcFontSize(GpGraphics* graphics, const wchar_t* text, const GpSizeF* maxSize,
                                     const wchar_t* faceName, int startSize, int fontStyle,
                                     const GpStringFormat* format);
/* Modes 0 centre crop, 1 fit inside, 2 tile from the origin, 3 no scaling, other stretch. */
GDIPLUS_API void Gdiplus_DrawBitmap(GpGraphics* graphics, const GpRECT* dest, GpBitmap* bitmap, const GpRECT* src,
                                    int mode);
/* Draws with the bitmap's alpha scaled by (alpha & 0xFF) / 256. */
GDIPLUS_API void Gdiplus_DrawAlphaBitmap(GpGraphics* graphics, const GpRECT* dest, GpBitmap* bitmap,
                                         const GpRECT* src, int stretch, int alpha);
GDIPLUS_API void Gdiplus_FillRect(GpGraphics* graphics, const GpRECT* rect, const GpBrush* brush);
GDIPLUS_API void Gdiplus_FillPolygon(GpGraphics* graphics, const GpPOINT* points, int count, const GpBrush* brush);
GDIPLUS_API void Gdiplus_DrawRect(GpGraphics* graphics, const GpRECT* rect, uint32_t argb, float penWidth);
/* A bitmap over the caller's pixels (not copied: they must outlive the bitmap). */
GDIPLUS_API GpBitmap* Gdiplus_LoadBitmapFromImageBits(void* data, int width, int height, int stride,
                                                      int pixelFormat);
/* Decodes encoded image bytes; the bitmap keeps its own copy of them. */
GDIPLUS_API GpBitmap* Gdiplus_LoadBitmapFromData(const void* bytes, size_t count);
/* Decodes the embedded resource ":/<type>/<id>"; the module is not used. */
GDIPLUS_API GpBitmap* Gdiplus_LoadBitmapFromResourceW(void* module, const wchar_t* type, uint32_t id);
GDIPLUS_API GpBitmap* Gdiplus_LoadBitmapFromResourceA(void* module, const char* type, int id);
GDIPLUS_API GpBitmap* Gdiplus_LoadBitmapFromFileW(const wchar_t* path);
GDIPLUS_API GpBitmap* Gdiplus_LoadBitmapFromFileA(const char* path);
/* Encodes with the encoder of the path's picture type; 1 on success. */
GDIPLUS_API int Gdiplus_SaveBitmapToFileW(GpBitmap* bitmap, const wchar_t* path);
GDIPLUS_API int Gdiplus_SaveBitmapToFileA(GpBitmap* bitmap, const char* path);
/* The region of pixels whose alpha is at least the threshold (free with GpRegion_Delete). */
GDIPLUS_API GpRegion* Gdiplus_CreateRgnFromBitmap(GpBitmap* bitmap, int alphaThreshold);
/* Pixels whose alpha lies in [lowAlpha, highAlpha] get newAlpha. 1 on success. */
GDIPLUS_API int Gdiplus_SetBitmapAlpha(GpBitmap* bitmap, const GpRECT* rect, int newAlpha, int lowAlpha,
                                       int highAlpha);
GDIPLUS_API int Gdiplus_BitmapOK(GpBitmap* bitmap);
GDIPLUS_API int Gdiplus_BitmapLastError(GpBitmap* bitmap);
GDIPLUS_API void Gdiplus_DeleteBitmap(GpBitmap* bitmap);

/* ---- object helpers for callers without Qt ---- */

GDIPLUS_API int GpBitmap_GetWidth(const GpBitmap* bitmap);
GDIPLUS_API int GpBitmap_GetHeight(const GpBitmap* bitmap);
GDIPLUS_API int GpBitmap_GetPixelFormat(const GpBitmap* bitmap);
/* ARGB of one pixel; 0 outside the bitmap. */
GDIPLUS_API uint32_t GpBitmap_GetPixel(const GpBitmap* bitmap, int x, int y);
/* A graphics object drawing into the bitmap (not into indexed formats). */
GDIPLUS_API GpGraphics* GpGraphics_FromBitmap(GpBitmap* bitmap);
GDIPLUS_API int GpGraphics_LastStatus(GpGraphics* graphics);
GDIPLUS_API void GpGraphics_Delete(GpGraphics* graphics);
GDIPLUS_API GpBrush* GpBrush_CreateSolid(uint32_t argb);
GDIPLUS_API void GpBrush_Delete(GpBrush* brush);
/* A font of the face (the generic sans-serif family when it is missing), size in points. */
GDIPLUS_API GpFont* GpFont_Create(const wchar_t* faceName, float pointSize, int fontStyle);
GDIPLUS_API void GpFont_Delete(GpFont* font);
GDIPLUS_API GpStringFormat* GpStringFormat_Create(int align, int lineAlign, int flags);
GDIPLUS_API void GpStringFormat_Delete(GpStringFormat* format);
/* Copies up to max rectangles of the region; returns how many it has in all. */
GDIPLUS_API int GpRegion_GetRects(const GpRegion* region, GpRECT* rects, int max);
GDIPLUS_API int GpRegion_Contains(const GpRegion* region, int x, int y);
GDIPLUS_API void GpRegion_Delete(GpRegion* region);

#ifdef __cplusplus
}
#endif
