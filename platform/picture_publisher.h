#pragma once

// The picture the window computes, offered to other programs as a camera
// (--publish-camera). The pipeline hands every processed picture over; an
// installed publisher copies what a consumer is ready to take and drops the
// rest, so the window never waits for anybody.

#include <memory>

class TBitmap;

class PicturePublisher {
public:
    virtual ~PicturePublisher() = default;
    // UI thread, once per processed frame. Picture is at the capture size;
    // FrameRate is the camera's (0 when unknown). Returns at once: true when
    // the picture went into a consumer's buffer, false when no consumer had
    // one free (or none is there).
    virtual bool publish(const TBitmap& Picture, double FrameRate) = 0;
};

// The publisher the pipeline hands its pictures to; none (the default)
// publishes nothing. Installed before the window opens, removed after it
// closed.
void InstallPicturePublisher(std::shared_ptr<PicturePublisher> Publisher);

// Called by the pipeline: hands Picture to the installed publisher, if any,
// and counts it for --stats when it was published.
void PublishPicture(const TBitmap& Picture, double FrameRate);
