#include "platform/camera/camera_component.h"

#include <QObject>

#include "platform/camera/demo_camera_source.h"
#include "platform/frame_stats.h"

namespace {

std::mutex g_installedMutex;
std::shared_ptr<CameraSource> g_installed;

}  // namespace

void InstallCameraSource(std::shared_ptr<CameraSource> Source)
{
    std::lock_guard lock(g_installedMutex);
    g_installed = std::move(Source);
}

std::shared_ptr<CameraSource> InstalledCameraSource()
{
    std::lock_guard lock(g_installedMutex);
    return g_installed;
}

namespace {

std::shared_ptr<CameraSource> installedOrDemo()
{
    if (auto source = InstalledCameraSource())
        return source;
    return std::make_shared<DemoCameraSource>();
}

TVideoCaptureSetting firstOffered(CameraSource& Source, TCameraKind Kind)
{
    const std::vector<TVideoCaptureSetting> settings = Source.captureSettings(Kind);
    return settings.empty() ? TVideoCaptureSetting() : settings.front();
}

}  // namespace

TCameraComponent::TCameraComponent(TComponent* AOwner) : TCameraComponent(AOwner, installedOrDemo()) {}

TCameraComponent::TCameraComponent(TComponent* AOwner, std::shared_ptr<CameraSource> Source)
    : TComponent(AOwner), m_source(std::move(Source)), m_uiContext(std::make_unique<QObject>())
{
    m_setting = firstOffered(*m_source, m_kind);
}

TCameraComponent::~TCameraComponent()
{
    stopSource();
}

bool TCameraComponent::Active() const
{
    return m_active && m_source->isRunning();
}

void TCameraComponent::SetActive(bool Value)
{
    if (!Value) {
        m_active = false;
        stopSource();
        return;
    }
    if (Active())
        return;
    // A run that ended by itself (the camera vanished) still has its gate
    // and perhaps a finished thread to join.
    stopSource();
    // A camera that offers no setting is not available: it does not start,
    // rather than start with a setting it never offered.
    const std::vector<TVideoCaptureSetting> offered = m_source->captureSettings(m_kind);
    if (offered.empty()) {
        m_active = false;
        return;
    }
    // A camera plugged in after this one was selected (with nothing offered
    // then) starts as it would have at selection: with its first setting.
    if (m_setting.isZero())
        m_setting = offered.front();

    auto gate = std::make_unique<SyncGate>();
    {
        std::lock_guard lock(m_frameMutex);
        m_gate = std::move(gate);
    }
    const std::optional<TVideoCaptureSetting> inForce = m_source->start(m_kind, m_setting, *this);
    if (!inForce) {
        std::lock_guard lock(m_frameMutex);
        m_gate.reset();
        m_active = false;
        return;
    }
    m_setting = *inForce;
    m_active = true;
}

void TCameraComponent::SetKind(TCameraKind Kind)
{
    if (m_gate)
        SetActive(false);
    m_kind = Kind;
    m_setting = firstOffered(*m_source, m_kind);
}

std::vector<TVideoCaptureSetting> TCameraComponent::GetAvailableCaptureSettings() const
{
    return m_source->captureSettings(m_kind);
}

void TCameraComponent::InternalSetCaptureSetting(const TVideoCaptureSetting& Setting)
{
    if (Setting.isZero())
        return;
    const TVideoCaptureSetting resolved = m_source->resolveSetting(m_kind, Setting);
    if (resolved == m_setting)
        return;
    const bool restart = Active();
    if (restart)
        SetActive(false);
    m_setting = resolved;
    if (restart)
        SetActive(true);
}

TVideoCaptureSetting TCameraComponent::GetCaptureSetting() const
{
    return m_setting;
}

void TCameraComponent::SampleBufferToBitmap(TBitmap& Bitmap, bool Resize)
{
    // Held while the pixels are written: the source thread clears m_frame
    // under the same mutex before the frame's memory goes away.
    std::lock_guard lock(m_frameMutex);
    if (m_frame == nullptr)
        return;
    const int width = m_frame->width();
    const int height = m_frame->height();
    if (Resize)
        Bitmap.SetSize(width, height);
    // A bitmap of another size that may not be resized is left as it is:
    // a partial copy would need a second buffer, and no caller wants one.
    if (width <= 0 || height <= 0 || Bitmap.Width() != width || Bitmap.Height() != height)
        return;
    const std::int64_t start = FrameStats::enabled() ? FrameStats::nowNs() : 0;
    m_frame->writeRgb32(reinterpret_cast<std::uint8_t*>(Bitmap.scanLine(0)), Bitmap.image().bytesPerLine());
    if (start != 0) {
        FrameStats::converted(m_frameArrivalNs, start, FrameStats::nowNs(), width, height);
        m_frameTaken = true;
    }
    Bitmap.changed();
}

void TCameraComponent::frameReady(const CameraFrame& Frame, std::int64_t TimeStampNs)
{
    const std::int64_t arrival = FrameStats::enabled() ? FrameStats::nowNs() : 0;
    if (arrival != 0)
        FrameStats::delivered();
    std::unique_lock lock(m_frameMutex);
    // Stopped, or stopping: the hand-over would be cancelled anyway.
    if (!m_gate || m_gate->isCancelled()) {
        if (arrival != 0)
            FrameStats::dropped();
        return;
    }
    const SyncGate gate = *m_gate;  // shares the run's state; m_gate may go once we unlock
    m_frame = &Frame;
    m_frameArrivalNs = arrival;
    m_frameTaken = false;
    lock.unlock();

    {
        SyncGateScope scope(gate);
        if (OnSampleBufferReady)
            OnSampleBufferReady(this, TimeStampNs);
    }

    lock.lock();
    m_frame = nullptr;
    if (arrival != 0 && !m_frameTaken)
        FrameStats::dropped();
}

void TCameraComponent::sourceStopped()
{
    // Queued to the UI thread; dropped if the component is gone by then (its
    // destructor stops the source first, so no thread is left to post).
    QMetaObject::invokeMethod(
        m_uiContext.get(),
        [this] {
            if (m_active && !m_source->isRunning() && OnStopped)
                OnStopped(this);
        },
        Qt::QueuedConnection);
}

void TCameraComponent::stopSource()
{
    if (!m_gate)
        return;
    // Cancel first: a capture thread waiting for the UI thread (which is
    // here) is released, so stop() can join it.
    m_gate->cancel();
    m_source->stop();
    std::lock_guard lock(m_frameMutex);
    m_gate.reset();
}
