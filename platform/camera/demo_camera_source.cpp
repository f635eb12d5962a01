#include "platform/camera/demo_camera_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;

// --- Pixels -----------------------------------------------------------------

int clampByte(int V)
{
    return V < 0 ? 0 : (V > 255 ? 255 : V);
}

// 0xFFRRGGBB: in memory B, G, R, 0xFF, the RGB32 layout.
std::uint32_t rgb(int R, int G, int B)
{
    return 0xFF000000u | std::uint32_t(clampByte(R)) << 16 | std::uint32_t(clampByte(G)) << 8 |
           std::uint32_t(clampByte(B));
}

int red(std::uint32_t C) { return int(C >> 16 & 0xFF); }
int green(std::uint32_t C) { return int(C >> 8 & 0xFF); }
int blue(std::uint32_t C) { return int(C & 0xFF); }

std::uint32_t mix(std::uint32_t A, std::uint32_t B, double T)
{
    auto lerp = [T](int a, int b) { return int(std::lround(a + (b - a) * T)); };
    return rgb(lerp(red(A), red(B)), lerp(green(A), green(B)), lerp(blue(A), blue(B)));
}

std::uint32_t shade(std::uint32_t C, int Delta)
{
    return rgb(red(C) + Delta, green(C) + Delta, blue(C) + Delta);
}

// A well-mixed 32-bit hash: stable per-brick, per-tile and per-pixel
// variations without storing any table.
std::uint32_t hash(std::uint32_t X)
{
    X ^= X >> 16;
    X *= 0x7FEB352Du;
    X ^= X >> 15;
    X *= 0x846CA68Bu;
    X ^= X >> 16;
    return X;
}

std::uint32_t hash2(int X, int Y)
{
    return hash(std::uint32_t(X) * 0x9E3779B1u ^ hash(std::uint32_t(Y)));
}

// -Amplitude..Amplitude from a hash: the grain of paint, brick and stone.
int grain(std::uint32_t H, int Amplitude)
{
    return int(H % std::uint32_t(2 * Amplitude + 1)) - Amplitude;
}

// 0 -> 0, 0.5 -> 1, 1 -> 0: a ball bouncing between two walls.
double triangle(double X)
{
    const double f = X - std::floor(X);
    return 1.0 - std::abs(2.0 * f - 1.0);
}

// --- Drawing ----------------------------------------------------------------
//
// Shapes cover the pixels whose centres (x + 0.5, y + 0.5) lie inside them,
// clipped to the picture.

struct Canvas {
    std::uint8_t* base;
    std::ptrdiff_t bytesPerLine;
    int width;
    int height;

    std::uint32_t* row(int Y) const { return reinterpret_cast<std::uint32_t*>(base + Y * bytesPerLine); }

    // Fills pixels X0..X1-1 of row Y, clipped.
    void span(int Y, int X0, int X1, std::uint32_t Color) const
    {
        if (Y < 0 || Y >= height)
            return;
        X0 = std::max(X0, 0);
        X1 = std::min(X1, width);
        if (X0 < X1)
            std::fill(row(Y) + X0, row(Y) + X1, Color);
    }
};

// First pixel whose centre lies at or after the coordinate.
int firstCentre(double V)
{
    return int(std::ceil(V - 0.5));
}

void fillRect(const Canvas& C, double X0, double Y0, double X1, double Y1, std::uint32_t Color)
{
    const int x0 = firstCentre(X0), x1 = firstCentre(X1);
    for (int y = std::max(firstCentre(Y0), 0); y < std::min(firstCentre(Y1), C.height); ++y)
        C.span(y, x0, x1, Color);
}

void fillDisc(const Canvas& C, double Cx, double Cy, double R, std::uint32_t Color)
{
    for (int y = std::max(firstCentre(Cy - R), 0); y < std::min(firstCentre(Cy + R), C.height); ++y) {
        const double dy = y + 0.5 - Cy;
        const double half = std::sqrt(std::max(0.0, R * R - dy * dy));
        C.span(y, firstCentre(Cx - half), firstCentre(Cx + half), Color);
    }
}

struct Point {
    double x;
    double y;
};

// Convex polygons only: each row crosses the outline at most twice, so the
// span runs from the leftmost to the rightmost crossing.
void fillConvex(const Canvas& C, const Point* P, int N, std::uint32_t Color)
{
    double top = P[0].y, bottom = P[0].y;
    for (int i = 1; i < N; ++i) {
        top = std::min(top, P[i].y);
        bottom = std::max(bottom, P[i].y);
    }
    for (int y = std::max(firstCentre(top), 0); y < std::min(firstCentre(bottom), C.height); ++y) {
        const double cy = y + 0.5;
        double left = std::numeric_limits<double>::max();
        double right = std::numeric_limits<double>::lowest();
        for (int i = 0; i < N; ++i) {
            const Point& a = P[i];
            const Point& b = P[(i + 1) % N];
            if ((a.y <= cy && cy < b.y) || (b.y <= cy && cy < a.y)) {
                const double x = a.x + (cy - a.y) * (b.x - a.x) / (b.y - a.y);
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        if (left <= right)
            C.span(y, firstCentre(left), firstCentre(right), Color);
    }
}

// A straight bar of HalfWidth either side of the segment A-B.
void fillBar(const Canvas& C, Point A, Point B, double HalfWidth, std::uint32_t Color)
{
    const double dx = B.x - A.x, dy = B.y - A.y;
    const double length = std::hypot(dx, dy);
    if (length <= 0.0)
        return;
    const double nx = -dy / length * HalfWidth, ny = dx / length * HalfWidth;
    const Point quad[4] = {{A.x + nx, A.y + ny}, {B.x + nx, B.y + ny}, {B.x - nx, B.y - ny}, {A.x - nx, A.y - ny}};
    fillConvex(C, quad, 4, Color);
}

// Rows of dark "words" of varying length on a panel: reads as print from
// afar and gives the motion filter sharp still edges to ignore.
void drawTextBlock(const Canvas& C, double X0, double Y0, double X1, double Y1, double LineHeight,
                   std::uint32_t Ink, std::uint32_t Seed)
{
    const double gap = LineHeight * 0.6;
    int line = 0;
    for (double y = Y0; y + LineHeight <= Y1; y += LineHeight * 1.7, ++line) {
        int word = 0;
        for (double x = X0;; ++word) {
            const double length = LineHeight * (1.5 + (hash2(int(Seed) + line, word) % 60) / 10.0);
            if (x + length > X1)
                break;
            fillRect(C, x, y, x + length, y + LineHeight, Ink);
            x += length + gap;
        }
    }
}

// --- The front camera: a room -----------------------------------------------

void drawRoom(const Canvas& C)
{
    const double w = C.width, h = C.height;
    const double brickTop = 0.62 * h;
    const double brickHeight = std::max(3.0, 0.045 * h);
    const double brickWidth = brickHeight * 2.3;
    const double mortar = std::max(1.0, brickHeight * 0.14);

    for (int y = 0; y < C.height; ++y) {
        std::uint32_t* row = C.row(y);
        const double fy = y / h;
        const int course = int((y - brickTop) / brickHeight);
        const double inCourse = (y - brickTop) - course * brickHeight;
        for (int x = 0; x < C.width; ++x) {
            const std::uint32_t noise = hash2(x, y);
            if (y < brickTop) {
                // Painted wall, lit from the upper left.
                const double fx = x / w - 0.3;
                const std::uint32_t wall = mix(rgb(226, 208, 172), rgb(168, 148, 118), fy / 0.62);
                row[x] = shade(wall, int(-40 * fx * fx) + grain(noise, 3));
                continue;
            }
            // Bricks in running bond: every other course shifted by half.
            const double shifted = x + (course % 2) * brickWidth * 0.5;
            const int column = int(shifted / brickWidth);
            const double inBrick = shifted - column * brickWidth;
            if (inCourse < mortar || inBrick < mortar) {
                row[x] = shade(rgb(188, 182, 170), grain(noise, 6));
            } else {
                const std::uint32_t h1 = hash2(column, course);
                const std::uint32_t brick = rgb(150 + grain(h1, 22), 62 + grain(h1 >> 8, 12), 46 + grain(h1 >> 16, 8));
                row[x] = shade(brick, grain(noise, 8));
            }
        }
    }

    // A poster with a title bar and print.
    fillRect(C, 0.06 * w, 0.09 * h, 0.39 * w, 0.53 * h, rgb(120, 100, 80));
    fillRect(C, 0.07 * w, 0.10 * h, 0.38 * w, 0.52 * h, rgb(241, 237, 226));
    fillRect(C, 0.09 * w, 0.12 * h, 0.36 * w, 0.17 * h, rgb(160, 30, 40));
    drawTextBlock(C, 0.09 * w, 0.20 * h, 0.36 * w, 0.50 * h, std::max(2.0, 0.018 * h), rgb(40, 40, 52), 17);

    // A window onto the sky with two clouds, and its frame and cross bars.
    const double wx0 = 0.58 * w, wx1 = 0.92 * w, wy0 = 0.08 * h, wy1 = 0.45 * h;
    for (int y = std::max(firstCentre(wy0), 0); y < std::min(firstCentre(wy1), C.height); ++y)
        C.span(y, firstCentre(wx0), firstCentre(wx1), mix(rgb(110, 160, 228), rgb(205, 226, 250), (y - wy0) / (wy1 - wy0)));
    fillDisc(C, 0.68 * w, 0.18 * h, 0.045 * h, rgb(245, 248, 252));
    fillDisc(C, 0.72 * w, 0.17 * h, 0.055 * h, rgb(245, 248, 252));
    fillDisc(C, 0.84 * w, 0.30 * h, 0.035 * h, rgb(236, 242, 250));
    const double bar = std::max(2.0, 0.012 * h);
    const std::uint32_t wood = rgb(96, 72, 50);
    fillRect(C, wx0 - bar, wy0 - bar, wx1 + bar, wy0, wood);
    fillRect(C, wx0 - bar, wy1, wx1 + bar, wy1 + bar, wood);
    fillRect(C, wx0 - bar, wy0, wx0, wy1, wood);
    fillRect(C, wx1, wy0, wx1 + bar, wy1, wood);
    fillRect(C, (wx0 + wx1) / 2 - bar / 2, wy0, (wx0 + wx1) / 2 + bar / 2, wy1, wood);
    fillRect(C, wx0, (wy0 + wy1) / 2 - bar / 2, wx1, (wy0 + wy1) / 2 + bar / 2, wood);
    // The pendulum's hook.
    fillRect(C, 0.48 * w, 0.0, 0.52 * w, 0.03 * h, rgb(70, 70, 78));
}

void drawRoomMotion(const Canvas& C, double T)
{
    const double w = C.width, h = C.height;

    // Pendulum: period 2.4 s, swinging +-0.7 rad about the hook.
    const double angle = 0.7 * std::sin(2.0 * kPi * T / 2.4);
    const Point pivot{0.5 * w, 0.03 * h};
    const Point bob{pivot.x + std::sin(angle) * 0.5 * h, pivot.y + std::cos(angle) * 0.5 * h};
    fillBar(C, pivot, bob, std::max(1.0, 0.008 * h), rgb(58, 58, 68));
    fillDisc(C, bob.x, bob.y, 0.05 * h, rgb(205, 172, 44));
    fillDisc(C, bob.x - 0.015 * h, bob.y - 0.015 * h, 0.015 * h, rgb(250, 230, 150));

    // Ball: crosses the room in 4.3 s, bounces every 1.3 s.
    const double r = 0.06 * h;
    const double x = r + triangle(T / 8.6) * (w - 2 * r);
    const double y = 0.92 * h - r - std::abs(std::sin(kPi * T / 1.3)) * 0.45 * h;
    fillDisc(C, x, y, r, rgb(30, 118, 200));
    fillDisc(C, x - 0.3 * r, y - 0.3 * r, 0.3 * r, rgb(130, 190, 240));
}

// --- The back camera: a street ----------------------------------------------

void drawStreet(const Canvas& C)
{
    const double w = C.width, h = C.height;
    const double ground = 0.62 * h;
    const double tile = std::max(4.0, 0.07 * h);
    const double grout = std::max(1.0, tile * 0.06);

    for (int y = 0; y < C.height; ++y) {
        std::uint32_t* row = C.row(y);
        const int tileRow = int((y - ground) / tile);
        const double inTile = (y - ground) - tileRow * tile;
        const std::uint32_t sky = mix(rgb(88, 148, 222), rgb(196, 220, 244), y / ground);
        for (int x = 0; x < C.width; ++x) {
            const std::uint32_t noise = hash2(x + 7919, y);
            if (y < ground) {
                row[x] = shade(sky, grain(noise, 1));
                continue;
            }
            const int tileColumn = int(x / tile);
            if (inTile < grout || x - tileColumn * tile < grout) {
                row[x] = shade(rgb(92, 92, 96), grain(noise, 5));
            } else {
                const int stone = 150 + grain(hash2(tileColumn, tileRow + 1000), 14);
                row[x] = shade(rgb(stone, stone - 4, stone - 10), grain(noise, 7));
            }
        }
    }

    // A house front with a grid of windows, some lit.
    fillRect(C, 0.05 * w, 0.12 * h, 0.65 * w, ground, rgb(202, 182, 152));
    fillRect(C, 0.03 * w, 0.09 * h, 0.67 * w, 0.13 * h, rgb(120, 60, 50));
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 5; ++column) {
            const double x0 = 0.08 * w + column * 0.115 * w, y0 = 0.16 * h + row * 0.105 * h;
            const bool lit = hash2(column, row + 50) % 3 == 0;
            fillRect(C, x0 - 0.006 * h, y0 - 0.006 * h, x0 + 0.066 * w + 0.006 * h, y0 + 0.07 * h + 0.006 * h,
                     rgb(250, 250, 245));
            fillRect(C, x0, y0, x0 + 0.066 * w, y0 + 0.07 * h, lit ? rgb(250, 226, 140) : rgb(48, 58, 82));
        }
    }
    // The shop sign with its lettering.
    fillRect(C, 0.10 * w, 0.49 * h, 0.58 * w, 0.58 * h, rgb(28, 84, 56));
    drawTextBlock(C, 0.12 * w, 0.51 * h, 0.56 * w, 0.57 * h, std::max(2.0, 0.022 * h), rgb(236, 226, 180), 3);
    // A tree, and the pole of the fan.
    fillRect(C, 0.74 * w, 0.40 * h, 0.765 * w, ground + 0.02 * h, rgb(92, 64, 40));
    fillDisc(C, 0.752 * w, 0.34 * h, 0.11 * h, rgb(52, 118, 52));
    fillDisc(C, 0.71 * w, 0.40 * h, 0.07 * h, rgb(60, 130, 56));
    fillRect(C, 0.895 * w, 0.30 * h, 0.905 * w, ground + 0.03 * h, rgb(110, 110, 118));
}

void drawStreetMotion(const Canvas& C, double T)
{
    const double w = C.width, h = C.height;

    // A figure of rectangles walking left to right in 9 s, then again.
    const double x = (T / 9.0 - std::floor(T / 9.0)) * 1.2 * w - 0.1 * w;
    const double feet = 0.90 * h;
    const double hip = feet - 0.15 * h;
    const double shoulder = hip - 0.12 * h;
    const double stride = std::sin(2.0 * kPi * 1.1 * T);  // two steps a cycle
    const double limb = std::max(1.0, 0.014 * h);
    const std::uint32_t trousers = rgb(40, 50, 92), shirt = rgb(182, 40, 40), skin = rgb(230, 190, 160);
    fillBar(C, {x, hip}, {x + stride * 0.06 * h, feet}, limb, trousers);
    fillBar(C, {x, hip}, {x - stride * 0.06 * h, feet}, limb, trousers);
    fillRect(C, x - 0.03 * h, shoulder, x + 0.03 * h, hip, shirt);
    fillBar(C, {x, shoulder + limb}, {x - stride * 0.05 * h, hip - 0.01 * h}, limb * 0.8, skin);
    fillBar(C, {x, shoulder + limb}, {x + stride * 0.05 * h, hip - 0.01 * h}, limb * 0.8, skin);
    fillDisc(C, x, shoulder - 0.035 * h, 0.03 * h, skin);

    // The fan on its pole turns once every 3 s.
    const double angle = 2.0 * kPi * T / 3.0;
    const Point hub{0.9 * w, 0.30 * h};
    for (int blade = 0; blade < 2; ++blade) {
        const double a = angle + blade * kPi / 2;
        const double dx = std::cos(a) * 0.09 * h, dy = std::sin(a) * 0.09 * h;
        fillBar(C, {hub.x - dx, hub.y - dy}, {hub.x + dx, hub.y + dy}, std::max(1.0, 0.012 * h), rgb(228, 228, 236));
    }
    fillDisc(C, hub.x, hub.y, 0.015 * h, rgb(60, 60, 66));

    // A bird crossing the sky in 6 s.
    const double bx = (T / 6.0 - std::floor(T / 6.0)) * 1.2 * w - 0.1 * w;
    const double by = 0.06 * h + 0.03 * h * std::sin(3.0 * T);
    fillDisc(C, bx, by, std::max(1.5, 0.012 * h), rgb(30, 30, 34));
    fillBar(C, {bx - 0.03 * h, by - 0.015 * h * std::sin(12.0 * T)}, {bx + 0.03 * h, by + 0.015 * h * std::sin(12.0 * T)},
            std::max(0.6, 0.004 * h), rgb(30, 30, 34));
}

// Sensor noise: about one pixel in 65 gets +-1 or +-2 on all three channels,
// at places that change every frame. Costs w*h/65 pixel updates.
void addNoise(const Canvas& C, std::uint32_t FrameNumber)
{
    std::uint32_t state = hash(FrameNumber + 1) | 1u;
    auto next = [&state] {
        // xorshift32
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const std::int64_t count = std::int64_t(C.width) * C.height;
    for (std::int64_t i = next() & 127; i < count; i += 1 + (next() & 127)) {
        std::uint32_t& pixel = C.row(int(i / C.width))[i % C.width];
        static constexpr int deltas[4] = {-2, -1, 1, 2};
        pixel = shade(pixel, deltas[next() & 3]);
    }
}

}  // namespace

TVideoCaptureSetting nearestOfferedSetting(const std::vector<TVideoCaptureSetting>& Offered,
                                           const TVideoCaptureSetting& Wanted)
{
    const TVideoCaptureSetting* best = nullptr;
    for (const TVideoCaptureSetting& s : Offered) {
        if (s.Width == Wanted.Width && s.Height == Wanted.Height &&
            (!best || std::abs(s.FrameRate - Wanted.FrameRate) < std::abs(best->FrameRate - Wanted.FrameRate)))
            best = &s;
    }
    if (best)
        return *best;
    const double wantedArea = double(Wanted.Width) * Wanted.Height;
    for (const TVideoCaptureSetting& s : Offered) {
        if (!best || std::abs(double(s.Width) * s.Height - wantedArea) <
                         std::abs(double(best->Width) * best->Height - wantedArea))
            best = &s;
    }
    return best ? *best : Wanted;
}

DemoScene::DemoScene(TCameraKind Kind, int Width, int Height)
    : m_kind(Kind), m_width(Width), m_height(Height),
      m_background(std::size_t(std::max(Width, 0)) * std::size_t(std::max(Height, 0)))
{
    if (m_background.empty())
        return;
    const Canvas canvas{reinterpret_cast<std::uint8_t*>(m_background.data()), std::ptrdiff_t(Width) * 4, Width, Height};
    if (Kind == TCameraKind::BackCamera)
        drawStreet(canvas);
    else
        drawRoom(canvas);
}

void DemoScene::render(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine, double Seconds, std::uint32_t FrameNumber) const
{
    if (m_background.empty())
        return;
    const Canvas canvas{Dst, BytesPerLine, m_width, m_height};
    const std::size_t rowBytes = std::size_t(m_width) * 4;
    for (int y = 0; y < m_height; ++y)
        std::memcpy(canvas.row(y), m_background.data() + std::size_t(y) * std::size_t(m_width), rowBytes);
    if (m_kind == TCameraKind::BackCamera)
        drawStreetMotion(canvas, Seconds);
    else
        drawRoomMotion(canvas, Seconds);
    addNoise(canvas, FrameNumber);
}

namespace {

// The frame hands the scene and its moment to writeRgb32, which draws it
// straight into the caller's bitmap: one copy of the background per frame.
class DemoFrame : public CameraFrame {
public:
    DemoFrame(const DemoScene& Scene, double Seconds, std::uint32_t Number)
        : m_scene(Scene), m_seconds(Seconds), m_number(Number)
    {
    }
    int width() const override { return m_scene.width(); }
    int height() const override { return m_scene.height(); }
    void writeRgb32(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const override
    {
        m_scene.render(Dst, BytesPerLine, m_seconds, m_number);
    }

private:
    const DemoScene& m_scene;
    double m_seconds;
    std::uint32_t m_number;
};

}  // namespace

DemoCameraSource::DemoCameraSource() : m_epoch(std::chrono::steady_clock::now()) {}

DemoCameraSource::~DemoCameraSource()
{
    stop();
}

std::vector<TVideoCaptureSetting> DemoCameraSource::offeredSettings(TCameraKind Kind)
{
    if (Kind == TCameraKind::BackCamera) {
        return {{1280, 720, 30}, {1280, 720, 60}, {1920, 1080, 30}, {800, 600, 30},
                {352, 288, 30},  {176, 144, 15},  {1920, 1440, 15}};
    }
    return {{640, 480, 30},   {640, 480, 15},  {1280, 720, 30}, {1920, 1080, 30},
            {1920, 1080, 15}, {320, 240, 30},  {2592, 1944, 15}};
}

std::vector<TVideoCaptureSetting> DemoCameraSource::captureSettings(TCameraKind Kind)
{
    return offeredSettings(Kind);
}

TVideoCaptureSetting DemoCameraSource::resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted)
{
    return nearestOfferedSetting(offeredSettings(Kind), Wanted);
}

std::optional<TVideoCaptureSetting> DemoCameraSource::start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                                            CameraSink& Sink)
{
    if (m_running.load())
        return std::nullopt;
    if (m_thread.joinable())
        m_thread.join();
    const TVideoCaptureSetting inForce = resolveSetting(Kind, Setting);
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = false;
    }
    m_running.store(true);
    m_thread = std::thread(&DemoCameraSource::run, this, Kind, inForce, &Sink);
    return inForce;
}

void DemoCameraSource::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_running.store(false);
}

void DemoCameraSource::run(TCameraKind Kind, TVideoCaptureSetting Setting, CameraSink* Sink)
{
    using Clock = std::chrono::steady_clock;
    if (!m_scene || m_scene->kind() != Kind || m_scene->width() != Setting.Width ||
        m_scene->height() != Setting.Height)
        m_scene = std::make_shared<const DemoScene>(Kind, Setting.Width, Setting.Height);
    const DemoScene& scene = *m_scene;

    const double rate = Setting.FrameRate > 0.0 ? Setting.FrameRate : 30.0;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    Clock::time_point due = Clock::now();
    for (std::uint32_t number = 0;; ++number) {
        {
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_until(lock, due, [this] { return m_stopRequested; }))
                return;
        }
        const Clock::time_point now = Clock::now();
        const DemoFrame frame(scene, std::chrono::duration<double>(now - m_epoch).count(), number);
        Sink->frameReady(frame, std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count());
        // Keep the rate, but after a slow frame start again from now rather
        // than deliver a burst to catch up.
        due += period;
        if (const Clock::time_point late = Clock::now(); due < late)
            due = late;
    }
}
