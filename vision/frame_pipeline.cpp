// The frame pipeline: every camera frame is handed to the UI thread, mirrored
// for the front camera, turned into the motion picture in quorl-eye mode and
// drawn, fitted, into the output bitmap.

#include "app/QuorlEye_main_form.h"
#include "platform/frame_stats.h"
#include "platform/picture_publisher.h"
#include "platform/thread.h"
#include "vision/motion_filter.h"

void TQuorlEyeMainForm::CameraComponentSampleBufferReady(TObject*, std::int64_t)
{
    // The capture thread waits here until the UI thread has run the whole
    // pipeline, so at most one frame is in processing. A camera that begins
    // to stop releases the wait and the frame is dropped.
    TThread::Synchronize(TThread::CurrentThread(), [this] { GetImageFromCamera(); });
}

void TQuorlEyeMainForm::FlipFromCameraBitmap()
{
    CameraBitmap->FlipHorizontal();
}

void TQuorlEyeMainForm::GetImageFromCamera()
{
    // A frame that arrives after the camera was switched off changes nothing.
    if (!CameraComponent->Active())
        return;

    CameraComponent->SampleBufferToBitmap(*CameraBitmap, true);

    // The first frame seeds both working bitmaps, unmirrored. So does a frame
    // of another size than the last one (after a camera switch or a new
    // resolution): the filter never reads or writes outside a bitmap.
    const bool sizeChanged = CameraBitmap->Width() != PreviousBitmap->Width() ||
                             CameraBitmap->Height() != PreviousBitmap->Height() ||
                             CameraBitmap->Width() != MotionBitmap->Width() ||
                             CameraBitmap->Height() != MotionBitmap->Height();
    if (IsFirstFrame || sizeChanged) {
        PreviousBitmap->Assign(*CameraBitmap);
        MotionBitmap->Assign(*CameraBitmap);
        IsFirstFrame = false;
    }

    if (IsFrontCamera)
        TThread::Synchronize(TThread::CurrentThread(), [this] { FlipFromCameraBitmap(); });

    if (QuorlEyeMode) {
        TBitmapData current, previous, motion;
        const bool mappedCurrent = CameraBitmap->Map(TMapAccess::ReadWrite, current);
        const bool mappedPrevious = PreviousBitmap->Map(TMapAccess::ReadWrite, previous);
        const bool mappedMotion = MotionBitmap->Map(TMapAccess::ReadWrite, motion);
        if (mappedCurrent && mappedPrevious && mappedMotion) {
            for (int y = 0; y < current.Height; ++y)
                motionFilterRow(static_cast<const std::uint32_t*>(current.GetScanline(y)),
                                static_cast<const std::uint32_t*>(previous.GetScanline(y)),
                                static_cast<std::uint32_t*>(motion.GetScanline(y)), current.Width);
        }
        // When a mapping failed, the motion picture keeps the last difference.
        if (mappedCurrent)
            CameraBitmap->Unmap(current);
        if (mappedPrevious)
            PreviousBitmap->Unmap(previous);
        if (mappedMotion)
            MotionBitmap->Unmap(motion);
    }

    // An empty output (a window of no area) is not drawn on; the previous
    // frame is still kept below.
    TCanvas& canvas = OutputBitmap().Canvas();
    if (canvas.BeginScene()) {
        if (IsClearOutputNeeded || IsFormResized) {
            canvas.Clear(TAlphaColors::Black);
            IsClearOutputNeeded = false;
            IsFormResized = false;
        }
        canvas.DrawBitmap(QuorlEyeMode ? *MotionBitmap : *CameraBitmap, CameraSourceRect, OutputDestRect, 1.0f,
                          false);
        canvas.EndScene();
        if (FrameStats::enabled())
            FrameStats::pipelineDone();
    }

    // With --publish-camera, other programs get the picture just drawn from,
    // at the capture size, whatever the window's size.
    PublishPicture(QuorlEyeMode ? *MotionBitmap : *CameraBitmap, CameraComponent->GetCaptureSetting().FrameRate);

    // The frame just drawn or compared becomes the previous one. Swapping
    // the buffers keeps exactly that frame without copying it; the camera
    // bitmap is overwritten by the next capture before anything reads it.
    PreviousBitmap->Swap(*CameraBitmap);
}
