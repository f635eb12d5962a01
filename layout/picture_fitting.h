#pragma once

// Where the camera picture lies on the output bitmap: its aspect ratio kept,
// filling the full width or the full height, centred in the other direction.

#include "platform/types.h"

struct PictureFit {
    int PictureWidth = 0;   // the camera picture as shown (sides swapped in portrait)
    int PictureHeight = 0;
    TRectF SourceRect;      // (0, 0, PictureWidth, PictureHeight)
    TRectF DestRect;        // whole pixels, inside the truncated output
};

PictureFit fitPicture(int CaptureWidth, int CaptureHeight, bool Landscape, double ScreenWidth,
                      double ScreenHeight);
