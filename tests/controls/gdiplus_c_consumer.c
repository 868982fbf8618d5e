/* A plain C program using the image library through its C interface only. */
#include <stdio.h>
#include <wchar.h>

#include "controls/imagelib/GdiplusImage.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    void* block = Gdiplus_Init();
    if (!block) return 3;
    int failures = 0;
    GpBitmap* red = Gdiplus_CreateColorBmp(200, 100, 0xFFFF0000u);
    GpBitmap* fit = Gdiplus_ResizeBitmap(red, 100, 100, 1, 0);
    if (GpBitmap_GetWidth(fit) != 100 || GpBitmap_GetHeight(fit) != 50) ++failures;
    if (GpBitmap_GetPixel(fit, 50, 25) != 0xFFFF0000u) ++failures;
    if (!Gdiplus_SaveBitmapToFileA(fit, argv[1])) ++failures;
    GpBitmap* back = Gdiplus_LoadBitmapFromFileA(argv[1]);
    if (!back || GpBitmap_GetWidth(back) != 100) ++failures;
    if (Gdiplus_GetPictureTypeByFileNameW(L"photo.TIF") != PICTURE_TYPE_PNG) ++failures;
    Gdiplus_DeleteBitmap(back);
    Gdiplus_DeleteBitmap(fit);
    Gdiplus_DeleteBitmap(red);
    Gdiplus_DeInit(block);
    printf("%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
