#include "layout/picture_fitting.h"


PictureFit fitPicture(int CaptureWidth, int CaptureHeight, bool Landscape, double ScreenWidth,
                      double ScreenHeight)
{
    PictureFit fit;
    fit.PictureWidth = Landscape ? CaptureWidth : CaptureHeight;
    fit.PictureHeight = Landscape ? CaptureHeight : CaptureWidth;
    fit.SourceRect = {0.0f, 0.0f, static_cast<float>(fit.PictureWidth), static_cast<float>(fit.PictureHeight)};

    // A zero side divides by 1 instead: a camera never seen running fits as
    // the largest centred square.
    const int pw = fit.PictureWidth == 0 ? 1 : fit.PictureWidth;
    const int ph = fit.PictureHeight == 0 ? 1 : fit.PictureHeight;
    const int ow = static_cast<int>(ScreenWidth);
    const int oh = static_cast<int>(ScreenHeight);

    // Fit to the width first; when that is too tall, fit to the height. The
    // products are taken in 64 bits: the same quotients as 32-bit arithmetic
    // wherever that does not overflow, and no overflow where it would.
    int dw = ow;
    int dh = static_cast<int>((static_cast<long long>(ph) * ow) / pw);
    if (dh > oh) {
        dw = static_cast<int>((static_cast<long long>(pw) * oh) / ph);
        dh = oh;
    }
    // An odd leftover puts the smaller half first.
    const int top = (oh - dh) / 2;
    const int left = (ow - dw) / 2;
    fit.DestRect = {static_cast<float>(left), static_cast<float>(top), static_cast<float>(left + dw),
                    static_cast<float>(top + dh)};
    return fit;
}
