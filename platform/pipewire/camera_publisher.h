#pragma once

// --publish-camera: the window's picture as a camera on the desktop's
// PipeWire, the node "quorl-eye" ("Quorl Eye Vision", Video/Source, role
// Camera) that browsers, OBS and GStreamer list like any webcam.
//
// The node offers BGRx (the picture as it is) and I420, at the size of the
// last picture published (640 x 480 before the first), and drives its
// consumers at the camera's rate: each published picture is one frame.
// When the picture's size or rate changes, the offer changes and the
// consumer renegotiates; pictures of another size than the one agreed are
// not sent meanwhile. When the object goes, the node goes, and its
// consumers see their stream end.
//
// Threads: publish() runs on the UI thread and never waits for a consumer:
// it takes a free buffer if there is one (the PipeWire loop's lock only for
// that, and to hand the buffer back), fills it without any lock, and drops
// the picture otherwise. The loop thread may not take a buffer's memory
// away while it is being filled: it waits for the fill to end, which takes
// a copy's time.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/picture_publisher.h"

struct pw_thread_loop;
struct pw_stream;
class PipeWireConnection;

class PipeWireCameraPublisher : public PicturePublisher {
public:
    // Connects to the daemon the environment names and adds the node. Null,
    // with Error set to a phrase fit for "cannot publish the camera: ...",
    // when no daemon answers or the node cannot be made.
    static std::shared_ptr<PipeWireCameraPublisher> create(std::string& Error);
    ~PipeWireCameraPublisher() override;
    PipeWireCameraPublisher(const PipeWireCameraPublisher&) = delete;
    PipeWireCameraPublisher& operator=(const PipeWireCameraPublisher&) = delete;

    bool publish(const TBitmap& Picture, double FrameRate) override;

    // The format a consumer agreed to; Width 0 before any.
    struct Format {
        bool I420 = false;
        int Width = 0;
        int Height = 0;
        int BytesPerLine = 0;  // of the Y plane for I420
        std::size_t Size = 0;
    };

private:
    PipeWireCameraPublisher() = default;
    struct Offer {
        int Width = 0;
        int Height = 0;
        int Rate = 0;  // frames per second, 0 for variable
        bool operator==(const Offer&) const = default;
    };
    bool start(std::string& Error);
    // With the loop's lock held.
    void offer(const Offer& O);
    static void onParamChanged(void* Data, std::uint32_t Id, const struct spa_pod* Param);
    static void onRemoveBuffer(void* Data, struct pw_buffer* Buffer);
    static void onStateChanged(void* Data, int Old, int State, const char* Error);

    std::unique_ptr<PipeWireConnection> m_connection;  // a connection of its own
    pw_thread_loop* m_loop = nullptr;                 // the connection's
    pw_stream* m_stream = nullptr;
    std::unique_ptr<struct spa_hook> m_streamListener;
    std::unique_ptr<struct pw_stream_events> m_events;

    // Loop's lock: what is offered and agreed, the buffers' generation (it
    // grows when buffers are taken away), the stream's state.
    Offer m_offered;
    Format m_format;
    std::uint64_t m_generation = 0;
    bool m_streaming = false;
    bool m_ready = false;   // the node is in the graph
    bool m_failed = false;  // the stream failed, for m_why
    std::string m_why;
    std::uint64_t m_sequence = 0;

    // A buffer being filled outside the loop's lock.
    std::mutex m_fillMutex;
    std::condition_variable m_fillDone;
    bool m_filling = false;
};
