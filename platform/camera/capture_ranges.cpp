#include "platform/camera/capture_ranges.h"

#include <array>

namespace {

constexpr std::array<std::pair<int, int>, 16> StandardSizes{{
    {160, 120}, {176, 144}, {320, 240}, {352, 288}, {640, 360}, {640, 480}, {800, 600}, {960, 540},
    {1024, 768}, {1280, 720}, {1280, 960}, {1280, 1024}, {1600, 1200}, {1920, 1080}, {2560, 1440}, {3840, 2160},
}};

constexpr std::array<int, 9> StandardRates{60, 50, 30, 25, 24, 20, 15, 10, 5};

bool fitsAxis(int Value, int Min, int Max, int Step)
{
    if (Value < Min || Value > Max)
        return false;
    return (Value - Min) % (Step > 0 ? Step : 1) == 0;
}

using Wide = unsigned __int128;

}  // namespace

std::vector<std::pair<int, int>> standardSizesInRange(const FrameSizeRange& R)
{
    std::vector<std::pair<int, int>> Sizes;
    if (R.MinWidth <= 0 || R.MinHeight <= 0 || R.MaxWidth < R.MinWidth || R.MaxHeight < R.MinHeight)
        return Sizes;
    for (const auto& [W, H] : StandardSizes)
        if (fitsAxis(W, R.MinWidth, R.MaxWidth, R.StepWidth) && fitsAxis(H, R.MinHeight, R.MaxHeight, R.StepHeight))
            Sizes.emplace_back(W, H);
    if (Sizes.empty()) {
        const auto onStep = [](int Min, int Max, int Step) {
            Step = Step > 0 ? Step : 1;
            return Min + (Max - Min) / Step * Step;
        };
        Sizes.emplace_back(onStep(R.MinWidth, R.MaxWidth, R.StepWidth),
                           onStep(R.MinHeight, R.MaxHeight, R.StepHeight));
    }
    return Sizes;
}

std::vector<double> standardRatesInRange(const FrameIntervalRange& R)
{
    std::vector<double> Rates;
    const IntervalFraction& Lo = R.Min;
    const IntervalFraction& Hi = R.Max;
    if (Lo.Numerator == 0 || Lo.Denominator == 0 || Hi.Numerator == 0 || Hi.Denominator == 0)
        return Rates;
    // Lo/LoD <= Hi/HiD, compared crosswise.
    if (Wide(Lo.Numerator) * Hi.Denominator > Wide(Hi.Numerator) * Lo.Denominator)
        return Rates;
    const bool Stepped = R.Step.Numerator != 0 && R.Step.Denominator != 0;
    for (const int Fps : StandardRates) {
        // The interval 1/Fps lies in [Lo, Hi]: Fps*LoN <= LoD and Fps*HiN >= HiD.
        if (Wide(Fps) * Lo.Numerator > Lo.Denominator || Wide(Fps) * Hi.Numerator < Hi.Denominator)
            continue;
        if (Stepped) {
            // (1/Fps - LoN/LoD) / (StepN/StepD) = (LoD - Fps*LoN) * StepD / (Fps * LoD * StepN)
            const Wide Num = (Wide(Lo.Denominator) - Wide(Fps) * Lo.Numerator) * R.Step.Denominator;
            const Wide Den = Wide(Fps) * Lo.Denominator * R.Step.Numerator;
            if (Num % Den != 0)
                continue;
        }
        Rates.push_back(double(Fps));
    }
    if (Rates.empty())
        Rates.push_back(double(Lo.Denominator) / double(Lo.Numerator));
    return Rates;
}
