#include "support/scripted_camera_source.h"

#include <cstring>

TestFrame::TestFrame(const QImage& Image) : m_image(Image.convertToFormat(QImage::Format_RGB32)) {}

void TestFrame::writeRgb32(std::uint8_t* Dst, std::ptrdiff_t BytesPerLine) const
{
    for (int y = 0; y < m_image.height(); ++y)
        std::memcpy(Dst + y * BytesPerLine, m_image.constScanLine(y), std::size_t(m_image.width()) * 4);
}

QImage solidImage(int Width, int Height, std::uint32_t Color)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Color);
    return image;
}

ScriptedCameraSource::~ScriptedCameraSource()
{
    m_stopRequested.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void ScriptedCameraSource::setCaptureSettings(TCameraKind Kind, std::vector<TVideoCaptureSetting> Settings)
{
    m_settings[Kind] = std::move(Settings);
}

void ScriptedCameraSource::setCaptureThread(bool On, std::vector<QImage> Frames)
{
    m_threaded = On;
    m_threadImages = std::move(Frames);
}

void ScriptedCameraSource::deliver(const QImage& Image)
{
    if (m_sink == nullptr)
        return;
    const TestFrame frame(Image);
    m_sink->frameReady(frame, ++m_delivered);
}

void ScriptedCameraSource::vanish()
{
    m_vanished.store(true);
    m_running.store(false);
    if (m_sink != nullptr)
        m_sink->sourceStopped();
}

std::vector<TVideoCaptureSetting> ScriptedCameraSource::captureSettings(TCameraKind Kind)
{
    const auto found = m_settings.find(Kind);
    return found == m_settings.end() ? std::vector<TVideoCaptureSetting>() : found->second;
}

TVideoCaptureSetting ScriptedCameraSource::resolveSetting(TCameraKind Kind, const TVideoCaptureSetting& Wanted)
{
    return resolveRule ? resolveRule(Kind, Wanted) : Wanted;
}

std::optional<TVideoCaptureSetting> ScriptedCameraSource::start(TCameraKind Kind, const TVideoCaptureSetting& Setting,
                                                                CameraSink& Sink)
{
    ++m_startCount;
    m_lastSetting = Setting;
    if (failStart)
        return std::nullopt;
    if (m_thread.joinable())  // a vanished run that nobody stopped
        m_thread.join();
    const TVideoCaptureSetting taken = resolveSetting(Kind, Setting);
    m_sink = &Sink;
    m_stopRequested.store(false);
    m_vanished.store(false);
    m_running.store(true);
    if (m_threaded) {
        m_threadFrames.clear();
        for (const QImage& image : m_threadImages)
            m_threadFrames.emplace_back(image);
        if (m_threadFrames.empty()) {
            m_threadFrames.emplace_back(solidImage(taken.Width, taken.Height, 0xFF000000));
            m_threadFrames.emplace_back(solidImage(taken.Width, taken.Height, 0xFFFFFFFF));
        }
        m_runLateFrames = lateFrames;
        m_threadAlive.store(true);
        m_thread = std::thread(&ScriptedCameraSource::run, this);
    }
    return taken;
}

void ScriptedCameraSource::stop()
{
    ++m_stopCount;
    m_stopRequested.store(true);
    if (m_thread.joinable())
        m_thread.join();
    m_running.store(false);
}

void ScriptedCameraSource::run()
{
    int late = m_runLateFrames;
    for (;;) {
        for (const TestFrame& frame : m_threadFrames) {
            if (m_vanished.load() || (m_stopRequested.load() && late-- <= 0)) {
                m_threadAlive.store(false);
                return;
            }
            m_sink->frameReady(frame, ++m_delivered);
        }
    }
}
