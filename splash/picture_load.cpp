#include "splash/picture_load.h"

#include "res/resource_ids.h"
#include "splash/png_resource.h"

namespace {

void LoadPictures(LoadedPictures& pictures, HINSTANCE module)
{
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug hook, GDI+'s own background thread
    if (Gdiplus::GdiplusStartup(&pictures.gdiplusToken, &input, nullptr) != Gdiplus::Ok)
        pictures.gdiplusToken = 0;
    pictures.background = static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    pictures.track = LoadPngResource(IDP_TRACK, L"PNG");
    pictures.fill = LoadPngResource(IDP_FILL, L"PNG");
}

}  // namespace

LoadedPictures::~LoadedPictures()
{
    if (background)
        DeleteObject(background);
    track.reset();
    fill.reset();
    // Only after every GDI+ object is gone.
    if (gdiplusToken != 0)
        Gdiplus::GdiplusShutdown(gdiplusToken);
}

void StartPictureLoad(PictureLoad& load, HINSTANCE module)
{
    LoadedPictures& pictures = load.pictures;
    StartJoinedThread(load.loader, [&pictures, module] { LoadPictures(pictures, module); });
}

LoadedPictures& FinishPictureLoad(PictureLoad& load)
{
    if (load.loader.thread.joinable())
        load.loader.thread.join();
    return load.pictures;
}
