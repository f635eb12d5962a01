#include "support/pipewire_daemon.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTimer>

#include <functional>

#include "platform/pipewire/pipewire_connection.h"

namespace {

// What the daemon loads: the protocol, nodes made by clients (cameras,
// streams), links, metadata and a driver for idle graphs. No real-time
// module, no D-Bus, no portal.
const char kPipeWireConf[] = R"(
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    support.dbus = false
    mem.allow-mlock = false
}
context.spa-libs = {
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver
               node.group = pipewire.dummy priority.driver = 20000 } }
]
)";

// WirePlumber 0.4: Lua overrides, read after the packaged 50-*.lua files
// and before 90-enable-all.lua turns the parts on.
// The monitors would take the machine's real cameras and sound cards, and
// without a session bus the portal and Bluetooth parts make it exit.
const char kWirePlumber04Main[] = R"(
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
)";
const char kWirePlumber04Bluetooth[] = "bluez_monitor.enabled = false\n";

// WirePlumber 0.5: the same through its profile's features.
const char kWirePlumber05[] = R"(
wireplumber.profiles = {
  main = {
    monitor.alsa = disabled
    monitor.alsa-midi = disabled
    monitor.v4l2 = disabled
    monitor.libcamera = disabled
    monitor.bluez = disabled
    monitor.bluez-midi = disabled
    monitor.bluez.seat-monitoring = disabled
    support.dbus = disabled
    support.reserve-device = disabled
    support.portal-permissionstore = disabled
    support.logind = disabled
  }
}
)";

const char* const kClientVariables[] = {"XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR", "XDG_CONFIG_HOME",
                                        "XDG_STATE_HOME", "XDG_DATA_HOME", "PIPEWIRE_REMOTE",
                                        "DBUS_SESSION_BUS_ADDRESS"};

bool writeFile(const QString& Path, const char* Text)
{
    QDir().mkpath(QFileInfo(Path).path());
    QFile F(Path);
    return F.open(QIODevice::WriteOnly) && F.write(Text) == qint64(qstrlen(Text));
}

// Runs the event loop until Done() holds or TimeoutMs pass; Wake signals
// are what may have changed it.
bool waitEvents(const std::function<bool()>& Done, int TimeoutMs,
                const std::vector<std::function<QMetaObject::Connection(QEventLoop&)>>& Wakes)
{
    QDeadlineTimer Deadline(TimeoutMs);
    QEventLoop Loop;
    QTimer Timer;
    Timer.setSingleShot(true);
    QObject::connect(&Timer, &QTimer::timeout, &Loop, &QEventLoop::quit);
    std::vector<QMetaObject::Connection> Connections;
    for (const auto& W : Wakes)
        Connections.push_back(W(Loop));
    while (!Done() && !Deadline.hasExpired()) {
        Timer.start(int(std::min<qint64>(Deadline.remainingTime(), 100)));
        Loop.exec();
    }
    for (const auto& C : Connections)
        QObject::disconnect(C);
    return Done();
}

void endProcess(QProcess& P)
{
    if (P.state() == QProcess::NotRunning)
        return;
    P.terminate();
    if (!P.waitForFinished(5000)) {
        P.kill();
        P.waitForFinished(5000);
    }
}

}  // namespace

FakePipeWireCamera::~FakePipeWireCamera()
{
    terminate();
}

QString FakePipeWireCamera::waitFor(const QString& Prefix, int TimeoutMs)
{
    QString Found;
    auto Done = [&] {
        m_lines.append(QString::fromUtf8(m_process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts));
        for (; m_seen < m_lines.size() && Found.isEmpty(); ++m_seen)
            if (m_lines[m_seen].startsWith(Prefix))
                Found = m_lines[m_seen];
        return !Found.isEmpty() || m_process.state() == QProcess::NotRunning;
    };
    // Lines come whole: the fake flushes after each one.
    waitEvents(Done, TimeoutMs,
               {[&](QEventLoop& L) { return QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &L, &QEventLoop::quit); },
                [&](QEventLoop& L) { return QObject::connect(&m_process, &QProcess::finished, &L, &QEventLoop::quit); }});
    return Found;
}

void FakePipeWireCamera::terminate()
{
    endProcess(m_process);
}

void FakePipeWireCamera::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

PipeWireDaemon::~PipeWireDaemon()
{
    stop();
}

bool PipeWireDaemon::fail(const QString& Why)
{
    m_why = Why;
    for (const char* Log : {"/pipewire.log", "/wireplumber.log"}) {
        QFile F(m_dir && m_dir->isValid() ? m_dir->path() + Log : QString());
        if (F.open(QIODevice::ReadOnly))
            m_why += "\n" + QString::fromUtf8(F.readAll().right(4000));
    }
    stop();
    return false;
}

QProcessEnvironment PipeWireDaemon::environment() const
{
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    const QString Base = m_dir->path();
    Env.insert("XDG_RUNTIME_DIR", Base + "/run");
    Env.insert("PIPEWIRE_RUNTIME_DIR", Base + "/run");
    Env.insert("XDG_CONFIG_HOME", Base + "/config");
    Env.insert("XDG_STATE_HOME", Base + "/state");
    Env.insert("XDG_DATA_HOME", Base + "/data");
    Env.remove("PIPEWIRE_REMOTE");
    Env.remove("DBUS_SESSION_BUS_ADDRESS");
    return Env;
}

bool PipeWireDaemon::start(int TimeoutMs)
{
    stop();
    m_why.clear();
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/quorl-pipewire-XXXXXX");
    if (!m_dir->isValid())
        return fail("cannot make a temporary directory");
    const QString Base = m_dir->path();
    QDir().mkpath(Base + "/run");
    QFile::setPermissions(Base + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!writeFile(Base + "/pipewire.conf", kPipeWireConf)
        || !writeFile(Base + "/config/wireplumber/main.lua.d/51-quorl-test.lua", kWirePlumber04Main)
        || !writeFile(Base + "/config/wireplumber/bluetooth.lua.d/51-quorl-test.lua", kWirePlumber04Bluetooth)
        || !writeFile(Base + "/config/wireplumber/wireplumber.conf.d/90-quorl-test.conf", kWirePlumber05))
        return fail("cannot write the configuration");

    // This process's own clients (the program's PipeWire source) find the
    // daemon through the same variables.
    const QProcessEnvironment Env = environment();
    for (const char* Name : kClientVariables) {
        m_savedEnvironment.emplace_back(Name, qEnvironmentVariableIsSet(Name) ? std::optional(qgetenv(Name))
                                                                              : std::nullopt);
        if (Env.contains(Name))
            qputenv(Name, Env.value(Name).toUtf8());
        else
            qunsetenv(Name);
    }

    QDeadlineTimer Deadline(TimeoutMs);
    m_pipewire.setProcessEnvironment(Env);
    m_pipewire.setProcessChannelMode(QProcess::MergedChannels);
    m_pipewire.setStandardOutputFile(Base + "/pipewire.log");
    QFileSystemWatcher Watcher({Base + "/run"});
    m_pipewire.start("pipewire", {"-c", Base + "/pipewire.conf"});
    const QString Socket = Base + "/run/pipewire-0";
    auto SocketThere = [&] { return QFile::exists(Socket + ".lock") && QFile::exists(Socket); };
    if (!waitEvents([&] { return SocketThere() || m_pipewire.state() == QProcess::NotRunning; },
                    int(Deadline.remainingTime()),
                    {[&](QEventLoop& L) { return QObject::connect(&Watcher, &QFileSystemWatcher::directoryChanged, &L, &QEventLoop::quit); },
                     [&](QEventLoop& L) { return QObject::connect(&m_pipewire, &QProcess::finished, &L, &QEventLoop::quit); }})
        || !SocketThere())
        return fail("pipewire did not start");

    m_wireplumber.setProcessEnvironment(Env);
    m_wireplumber.setProcessChannelMode(QProcess::MergedChannels);
    m_wireplumber.setStandardOutputFile(Base + "/wireplumber.log");
    m_wireplumber.start("wireplumber", {});

    // WirePlumber is ready once it has made the "default" metadata object.
    // The socket's file appears at bind(), a moment before pipewire listens:
    // a refused first try is tried again.
    std::string Error;
    std::unique_ptr<PipeWireConnection> C;
    while (!(C = PipeWireConnection::connect(Error, int(Deadline.remainingTime()))) && !Deadline.hasExpired()
           && m_pipewire.state() != QProcess::NotRunning)
        waitEvents([] { return false; }, 10, {});
    if (!C)
        return fail("cannot reach the private pipewire: " + QString::fromStdString(Error));
    bool Ready = false;
    {
        PipeWireConnection::Lock L(*C);
        auto HasDefault = [&] {
            for (const auto& G : C->globals())
                if (G.Type == "PipeWire:Interface:Metadata" && G.prop("metadata.name") == "default")
                    return true;
            return false;
        };
        const int Handle = C->addListener({});
        Ready = C->waitUntil([&] { return HasDefault() || !C->connected(); }, int(Deadline.remainingTime()))
            && C->connected();
        C->removeListener(Handle);
    }
    if (!Ready)
        return fail(m_wireplumber.state() == QProcess::NotRunning ? "wireplumber exited" : "wireplumber is not ready");
    return true;
}

void PipeWireDaemon::stop()
{
    endProcess(m_wireplumber);
    endProcess(m_pipewire);
    restoreEnvironment();
    m_dir.reset();
}

void PipeWireDaemon::killDaemon()
{
    m_pipewire.kill();
    m_pipewire.waitForFinished(5000);
}

void PipeWireDaemon::restoreEnvironment()
{
    for (const auto& [Name, Value] : m_savedEnvironment)
        if (Value)
            qputenv(Name.constData(), *Value);
        else
            qunsetenv(Name.constData());
    m_savedEnvironment.clear();
}

std::unique_ptr<FakePipeWireCamera> PipeWireDaemon::camera(const QStringList& Args, int TimeoutMs)
{
    auto Camera = std::make_unique<FakePipeWireCamera>();
    Camera->m_process.setProcessEnvironment(environment());
    Camera->m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Camera->m_process.start(QUORL_FAKE_PIPEWIRE_CAMERA, Args);
    const QString Ready = Camera->waitFor("ready ", TimeoutMs);
    if (Ready.isEmpty()) {
        m_why = "the fake camera did not come up: " + Args.join(' ');
        return nullptr;
    }
    Camera->m_nodeId = Ready.section(' ', 1).toInt();
    return Camera;
}
