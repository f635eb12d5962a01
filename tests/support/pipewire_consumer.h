#pragma once

// A consumer of the published camera, as a video call would be one: a
// PipeWire capture stream linked (by the session manager) to the node named
// "quorl-eye", asking for one pixel format. It keeps a copy of the last
// frame it took, or, made stuck, never takes a buffer at all. It also
// watches the daemon's registry for the node itself.
//
// Reaches the daemon the environment names (a PipeWireDaemon's, in tests).

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

struct ConsumedFrame {
    bool I420 = false;
    int Width = 0;
    int Height = 0;
    int Stride = 0;       // of the Y plane for I420
    QByteArray Bytes;     // the chunk as sent
    quint64 Number = 0;   // frames taken so far, this one included
};

class PipeWireConsumer {
public:
    // Format: "BGRx" or "I420". A stuck consumer links and agrees on the
    // format like any other, then never takes a buffer.
    PipeWireConsumer(const QString& Format, bool Stuck = false);
    ~PipeWireConsumer();

    // Waits up to TimeoutMs, running Between (the publishing side, say) while
    // waiting, until a frame taken satisfies Wanted; returns that frame, or
    // an empty one after the timeout.
    ConsumedFrame waitFrame(const std::function<bool(const ConsumedFrame&)>& Wanted,
                            const std::function<void()>& Between, int TimeoutMs = 10000);
    // Waits until the node "quorl-eye" is listed (true) or gone (false).
    bool waitNodeListed(bool Listed, int TimeoutMs = 10000);
    // Waits until the stream is linked to the node (paused or streaming).
    bool waitLinked(int TimeoutMs = 10000);
    // Waits until the stream, once linked, no longer streams: unconnected,
    // failed, or paused with its peer gone.
    bool waitStreamEnded(int TimeoutMs = 10000);

    struct State;

private:
    std::unique_ptr<State> m_state;
};
