#include "platform/picture_publisher.h"

#include "platform/frame_stats.h"

namespace {

// Set and cleared on the UI thread, outside any frame, read by the pipeline
// on the same thread.
std::shared_ptr<PicturePublisher> g_publisher;

}  // namespace

void InstallPicturePublisher(std::shared_ptr<PicturePublisher> Publisher)
{
    g_publisher = std::move(Publisher);
    if (g_publisher)
        FrameStats::countPublished();
}

void PublishPicture(const TBitmap& Picture, double FrameRate)
{
    if (g_publisher && g_publisher->publish(Picture, FrameRate) && FrameStats::enabled())
        FrameStats::published();
}
