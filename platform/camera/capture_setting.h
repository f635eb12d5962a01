#pragma once

// The camera's capture-setting record and the kinds of camera.

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

enum class TCameraKind { Default = 0, FrontCamera = 1, BackCamera = 2 };
enum class TVideoCaptureSettingPriority { Resolution = 0, FrameRate = 1 };

struct TVideoCaptureSetting {
    int Width = 0;
    int Height = 0;
    double FrameRate = 0.0;
    double MinFrameRate = 0.0;
    double MaxFrameRate = 0.0;

    TVideoCaptureSetting() = default;
    TVideoCaptureSetting(int AWidth, int AHeight, double AFrameRate) : Width(AWidth), Height(AHeight)
    {
        SetFrameRate(AFrameRate);
    }
    // Sets the frame rate; the minimum and maximum follow it.
    void SetFrameRate(double Rate)
    {
        FrameRate = Rate;
        MinFrameRate = Rate;
        MaxFrameRate = Rate;
    }
    bool isZero() const { return Width == 0 && Height == 0 && FrameRate == 0.0; }
    friend bool operator==(const TVideoCaptureSetting&, const TVideoCaptureSetting&) = default;
};

// The offer nearest to Wanted among a camera's offers (anything with a
// Setting): the closest size (|dw| + |dh|), then the closest frame rate; the
// first listed on a tie. Offers must not be empty.
template <class Offer>
const Offer& nearestOffer(const std::vector<Offer>& Offers, const TVideoCaptureSetting& Wanted)
{
    auto Distance = [&](const Offer& O) {
        return std::pair(std::abs(O.Setting.Width - Wanted.Width) + std::abs(O.Setting.Height - Wanted.Height),
                         std::abs(O.Setting.FrameRate - Wanted.FrameRate));
    };
    const Offer* Best = &Offers.front();
    for (const Offer& O : Offers)
        if (Distance(O) < Distance(*Best))
            Best = &O;
    return *Best;
}

// "1280x720 @ 30" for messages and test output.
std::string settingText(const TVideoCaptureSetting& S);
