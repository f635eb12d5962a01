#include "platform/session.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

bool displayAnswers(DisplayKind Kind, const std::string& Name)
{
    if (Kind == DisplayKind::X11) {
        // The whole handshake, authorisation included, as Qt will do it.
        xcb_connection_t* c = xcb_connect(Name.c_str(), nullptr);
        const bool answers = xcb_connection_has_error(c) == 0;
        xcb_disconnect(c);
        return answers;
    }
    // A Wayland display is a socket in XDG_RUNTIME_DIR, or an absolute path.
    std::string path = Name;
    if (!Name.starts_with('/')) {
        const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
        if (!runtimeDir || !*runtimeDir)
            return false;
        path = std::string(runtimeDir) + "/" + Name;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answers = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

namespace Session {
namespace {

// Written by the signal handler, read by the UI thread.
volatile std::sig_atomic_t g_endSignal = 0;
int g_signalPipe[2] = {-1, -1};
QSocketNotifier* g_signalNotifier = nullptr;

std::atomic<bool> g_eventLoopRunning{false};
std::atomic<xcb_connection_t*> g_x11{nullptr};
char g_lostLine[256] = "";
QtMessageHandler g_previousHandler = nullptr;
bool g_atExitInstalled = false;

// Only async-signal-safe calls here: the UI thread does the rest.
extern "C" void onEndSignal(int Signal)
{
    if (g_endSignal != 0) {
        // Asked again while the close is under way: end now, as the default
        // action would have done the first time.
        std::signal(Signal, SIG_DFL);
        std::raise(Signal);
        return;
    }
    g_endSignal = Signal;
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void closeEveryWindow()
{
    char bytes[16];
    while (read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    QApplication::closeAllWindows();
}

bool displayConnectionBroken()
{
    xcb_connection_t* c = g_x11.load();
    return c && xcb_connection_has_error(c) != 0;
}

// Once the display connection is broken, Qt's own complaints about it
// (several lines, one per thing it could not do) give way to ours.
void filterMessage(QtMsgType Type, const QMessageLogContext& Context, const QString& Message)
{
    if (Type != QtFatalMsg && displayConnectionBroken())
        return;
    if (g_previousHandler)
        g_previousHandler(Type, Context, Message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(Type, Context, Message)));
}

// Qt's X11 plugin calls exit(1) from inside the event loop when the
// connection to the display breaks (so does Xlib's default I/O error
// handler). Destructors running from there would tear down windows whose
// display is gone, under an event loop that is still on the stack: the
// process ends here instead, before any of them runs.
extern "C" void exitedUnderEventLoop()
{
    if (!g_eventLoopRunning.load())
        return;
    std::fputs(g_lostLine, stderr);
    std::fflush(stderr);
    _exit(1);
}

// Another X client destroyed one of our top-level windows: nobody can see
// or close it any more, so it is closed as its close box would.
class DestroyedWindowFilter final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& Type, void* Message, qintptr*) override
    {
        if (Type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(Message);
        if ((event->response_type & 0x7f) != XCB_DESTROY_NOTIFY)
            return false;
        const xcb_window_t window = static_cast<const xcb_destroy_notify_event_t*>(Message)->window;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->internalWinId() == window && w->isVisible())
                w->close();
        return false;
    }
};

DestroyedWindowFilter* g_destroyedWindowFilter = nullptr;

}  // namespace

void watch()
{
    if (g_signalNotifier)
        return;
    if (g_signalPipe[0] < 0 && pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_endSignal = 0;
    g_signalNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(g_signalNotifier, &QSocketNotifier::activated, closeEveryWindow);
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM}) {
        // An ignored signal stays ignored (a shell starts background jobs
        // with SIGINT ignored, so that Ctrl+C does not reach them).
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }

    const bool wayland = QGuiApplication::platformName().startsWith("wayland");
    const char* name = std::getenv(wayland ? "WAYLAND_DISPLAY" : "DISPLAY");
    std::snprintf(g_lostLine, sizeof g_lostLine, "quorl-eye: lost the connection to the display%s%s\n",
                  name && *name ? " " : "", name ? name : "");
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        g_x11.store(x11->connection());
    g_previousHandler = qInstallMessageHandler(filterMessage);
    if (!g_atExitInstalled)
        g_atExitInstalled = std::atexit(exitedUnderEventLoop) == 0;
    g_destroyedWindowFilter = new DestroyedWindowFilter;
    QCoreApplication::instance()->installNativeEventFilter(g_destroyedWindowFilter);
}

void setEventLoopRunning(bool Running)
{
    g_eventLoopRunning.store(Running);
}

int endSignal()
{
    return g_endSignal;
}

void unwatch()
{
    if (!g_signalNotifier)
        return;
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction now {};
        if (sigaction(signal, nullptr, &now) == 0 && now.sa_handler == onEndSignal)
            std::signal(signal, SIG_DFL);
    }
    delete std::exchange(g_signalNotifier, nullptr);
    g_endSignal = 0;
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeNativeEventFilter(g_destroyedWindowFilter);
    delete std::exchange(g_destroyedWindowFilter, nullptr);
    qInstallMessageHandler(g_previousHandler);
    g_previousHandler = nullptr;
    g_x11.store(nullptr);
}

}  // namespace Session
