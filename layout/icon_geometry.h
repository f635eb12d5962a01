#pragma once

// The arithmetic of the tool icons: where an icon rests for a given output
// size, and where a pressed icon is drawn so that it grows around its centre.

#include "platform/types.h"

struct IconPlacement {
    float Width = 0.0f;  // stored into the control's float properties
    float Height = 0.0f;
    float X = 0.0f;
    float Y = 0.0f;
    int Left = 0;  // rest geometry, truncated toward zero
    int Top = 0;
    int CentreX = 0;
    int CentreY = 0;
};

// An icon sized from the output's longer side, keeping its image's aspect
// ratio, centred on (Fx x ScreenWidth, Fy x ScreenHeight).
IconPlacement placeIcon(double ScreenWidth, double ScreenHeight, double LongSide, double SizeRatio,
                        int ImageWidth, int ImageHeight, double Fx, double Fy);

// The rest geometry taken at a press, and the top-left corner that keeps an
// icon scaled by Scale centred on its rest centre (a scaled control is drawn
// from its top-left corner).
struct PressPlacement {
    int Left = 0;
    int Top = 0;
    int CentreX = 0;
    int CentreY = 0;
    TPointF Position;
};
PressPlacement pressIcon(TPointF Position, float Width, float Height, float Scale);
