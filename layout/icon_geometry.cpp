#include "layout/icon_geometry.h"

IconPlacement placeIcon(double ScreenWidth, double ScreenHeight, double LongSide, double SizeRatio,
                        int ImageWidth, int ImageHeight, double Fx, double Fy)
{
    IconPlacement p;
    // Each value is computed in double and stored as the control's float;
    // later steps read the stored float back, as the control would.
    p.Height = static_cast<float>(LongSide * SizeRatio);
    p.Width = static_cast<float>(static_cast<double>(p.Height) * ImageWidth / ImageHeight);
    p.X = static_cast<float>(ScreenWidth * Fx - static_cast<double>(p.Width) * 0.5);
    p.Y = static_cast<float>(ScreenHeight * Fy - static_cast<double>(p.Height) * 0.5);
    p.Left = static_cast<int>(p.X);
    p.Top = static_cast<int>(p.Y);
    p.CentreX = static_cast<int>(p.Left + static_cast<double>(p.Width) * 0.5);
    p.CentreY = static_cast<int>(p.Top + static_cast<double>(p.Height) * 0.5);
    return p;
}

PressPlacement pressIcon(TPointF Position, float Width, float Height, float Scale)
{
    PressPlacement p;
    p.CentreX = static_cast<int>(Position.X + static_cast<double>(Width) * 0.5);
    p.CentreY = static_cast<int>(Position.Y + static_cast<double>(Height) * 0.5);
    p.Left = static_cast<int>(Position.X);
    p.Top = static_cast<int>(Position.Y);
    p.Position.X = static_cast<float>(p.CentreX - static_cast<double>(Width) * 0.5 * Scale);
    p.Position.Y = static_cast<float>(p.CentreY - static_cast<double>(Height) * 0.5 * Scale);
    return p;
}
