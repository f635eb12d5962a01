#pragma once

// TCameraComponent: the program's one camera. It drives a CameraSource and
// raises OnSampleBufferReady on the source's thread for every frame. The
// frame stays available to SampleBufferToBitmap until the handler returns;
// a handler that hands the work to the UI thread with TThread::Synchronize is
// released when the camera stops, so stopping never deadlocks.

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/bitmap.h"
#include "platform/camera/camera_source.h"
#include "platform/controls.h"
#include "platform/thread.h"

class QObject;

// The source every new camera component uses (chosen by the command line,
// or by a test). Without one installed, components use the demo cameras.
void InstallCameraSource(std::shared_ptr<CameraSource> Source);
std::shared_ptr<CameraSource> InstalledCameraSource();

class TCameraComponent : public TComponent, private CameraSink {
public:
    explicit TCameraComponent(TComponent* AOwner);
    TCameraComponent(TComponent* AOwner, std::shared_ptr<CameraSource> Source);
    ~TCameraComponent() override;  // stops the camera

    // The state the camera reports: false once stopped, and once the source
    // stopped by itself (a camera that vanished).
    bool Active() const;
    // true starts frame delivery with the setting in force, false stops it.
    void SetActive(bool Value);

    TCameraKind Kind() const { return m_kind; }
    // Selects the camera; the setting in force becomes that camera's first
    // offered setting. Only while stopped (a running camera is stopped first).
    void SetKind(TCameraKind Kind);
    TVideoCaptureSettingPriority CaptureSettingPriority() const { return m_priority; }
    void SetCaptureSettingPriority(TVideoCaptureSettingPriority P) { m_priority = P; }

    std::vector<TVideoCaptureSetting> GetAvailableCaptureSettings() const;
    // Asks the camera to capture with Setting, also while stopped (for its
    // next start). The camera takes the nearest it can; an all-zero setting
    // is ignored. A running camera restarts with the new setting.
    void InternalSetCaptureSetting(const TVideoCaptureSetting& Setting);
    // The setting in force; its Width and Height are the size of the frames.
    TVideoCaptureSetting GetCaptureSetting() const;

    // Copies the frame being delivered into Bitmap (which takes the frame's
    // size when Resize is true). Does nothing outside a frame event.
    void SampleBufferToBitmap(TBitmap& Bitmap, bool Resize);

    TSampleBufferReadyEvent OnSampleBufferReady;
    // Raised on the UI thread when a camera the program had on stopped by
    // itself (unplugged, its file no longer decodable).
    TNotifyEvent OnStopped;

    CameraSource& source() const { return *m_source; }

private:
    void frameReady(const CameraFrame& Frame, std::int64_t TimeStampNs) override;
    void sourceStopped() override;
    void stopSource();

    std::shared_ptr<CameraSource> m_source;
    std::unique_ptr<QObject> m_uiContext;  // carries OnStopped to the UI thread
    TCameraKind m_kind = TCameraKind::FrontCamera;
    TVideoCaptureSettingPriority m_priority = TVideoCaptureSettingPriority::Resolution;
    TVideoCaptureSetting m_setting;
    bool m_active = false;                  // what the program asked for
    std::unique_ptr<SyncGate> m_gate;       // one per capture run
    std::mutex m_frameMutex;
    const CameraFrame* m_frame = nullptr;  // the frame being delivered
    std::int64_t m_frameArrivalNs = 0;     // --stats only: when it was delivered,
    bool m_frameTaken = false;             // and whether it was converted
};
