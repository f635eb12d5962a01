#pragma once

// A private PipeWire daemon and WirePlumber session manager for a test,
// and fake cameras on it.
//
// The daemon lives in a temporary directory of its own (XDG_RUNTIME_DIR,
// XDG_CONFIG_HOME, XDG_STATE_HOME...), never touches a PipeWire the user
// runs, and WirePlumber is told to monitor no hardware and to need no D-Bus
// (both the Lua configuration of WirePlumber 0.4 and the .conf files of 0.5
// are written). start() points this process's PipeWire clients at it;
// stop() (or the destructor) ends every process it started, removes the
// directory and puts the environment back.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

class FakePipeWireCamera {
public:
    ~FakePipeWireCamera();
    // Waits for a line of the fake's that starts with Prefix, and returns
    // it; empty after TimeoutMs or when the fake exits first.
    QString waitFor(const QString& Prefix, int TimeoutMs = 10000);
    QStringList lines() const { return m_lines; }
    int nodeId() const { return m_nodeId; }
    void terminate();  // SIGTERM, and waits for the fake to end
    void kill();       // SIGKILL: the camera vanishes at once

private:
    friend class PipeWireDaemon;
    QProcess m_process;
    QStringList m_lines;
    int m_seen = 0;  // lines already returned by waitFor
    int m_nodeId = -1;
};

class PipeWireDaemon {
public:
    PipeWireDaemon() = default;
    ~PipeWireDaemon();
    PipeWireDaemon(const PipeWireDaemon&) = delete;
    PipeWireDaemon& operator=(const PipeWireDaemon&) = delete;

    // Starts pipewire, then wireplumber, and returns once the session
    // manager is ready (its "default" metadata is there). False, with
    // why() saying what failed, when either does not come up.
    bool start(int TimeoutMs = 15000);
    void stop();
    // The daemon dies at once (SIGKILL), the way a crash takes it away;
    // WirePlumber and the fakes end by themselves then.
    void killDaemon();
    bool running() const { return m_pipewire.state() != QProcess::NotRunning; }

    // The environment a client process needs to reach this daemon.
    QProcessEnvironment environment() const;
    QString runtimeDir() const { return m_dir ? m_dir->path() + "/run" : QString(); }
    QString why() const { return m_why; }

    // A fake camera (tests/support/fake_pipewire_camera.cpp) with Args,
    // once its node is in the graph; null, with why() set, when it is not.
    std::unique_ptr<FakePipeWireCamera> camera(const QStringList& Args, int TimeoutMs = 10000);

private:
    bool fail(const QString& Why);
    void restoreEnvironment();

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_pipewire;
    QProcess m_wireplumber;
    QString m_why;
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_savedEnvironment;
};
