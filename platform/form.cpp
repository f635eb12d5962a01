#include "platform/form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>

#include <cstdio>
#include <utility>

#include "platform/frame_stats.h"
#include "platform/session.h"
#include "platform/timing.h"

TApplication Application;

namespace {

// Qt's key codes to the virtual key codes the handlers compare with.
// Letters and digits share their codes; keys the program has no use for
// come through as 0.
std::uint16_t virtualKey(int QtKey)
{
    if ((QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z) || (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9))
        return static_cast<std::uint16_t>(QtKey);
    switch (QtKey) {
    case Qt::Key_Escape:
        return vkEscape;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Delete:
        return 46;
    default:
        return 0;
    }
}

TShiftState keyShiftState(Qt::KeyboardModifiers M)
{
    TShiftState s = 0;
    if (M & Qt::ShiftModifier)
        s |= TShift::Shift;
    if (M & Qt::AltModifier)
        s |= TShift::Alt;
    if (M & Qt::ControlModifier)
        s |= TShift::Ctrl;
    return s;
}

// The window is going away: its handlers point into the half-destroyed
// window object, and tearing down widgets still sends events (a hidden
// widget under the pointer gets a leave). Nothing may reach them any more.
void detachHandlers(TComponent& Owner)
{
    for (int i = 0; i < Owner.ComponentCount(); ++i) {
        TComponent* c = Owner.Components(i);
        if (auto* control = dynamic_cast<TControl*>(c)) {
            control->OnClick = nullptr;
            control->OnMouseDown = nullptr;
            control->OnMouseMove = nullptr;
            control->OnMouseUp = nullptr;
            control->OnMouseLeave = nullptr;
        }
        if (auto* track = dynamic_cast<TTrackBar*>(c)) {
            track->OnChange = nullptr;
            track->OnTracking = nullptr;
        }
        if (auto* timer = dynamic_cast<TTimer*>(c)) {
            timer->SetEnabled(false);
            timer->OnTimer = nullptr;
        }
    }
}

}  // namespace

// The window's widget. Its whole area is the client area that hosts the
// controls.
class FormWidget final : public QWidget {
public:
    explicit FormWidget(TForm* F) : m_form(F) {}

    TForm* m_form;                  // nullptr while the form is destroyed
    bool m_closeApproved = false;   // Close() has already asked

protected:
    // The close box and Close() meet here; the query runs once per request.
    void closeEvent(QCloseEvent* E) override
    {
        const bool approved = std::exchange(m_closeApproved, false);
        if (!m_form || approved || m_form->closeQuery())
            E->accept();
        else
            E->ignore();
    }

    void keyPressEvent(QKeyEvent* E) override
    {
        if (!m_form)
            return QWidget::keyPressEvent(E);
        const QString text = E->text();
        const char16_t keyChar = text.isEmpty() ? u'\0' : static_cast<char16_t>(text.at(0).unicode());
        m_form->keyDown(virtualKey(E->key()), keyChar, keyShiftState(E->modifiers()));
        E->accept();
    }

    // Qt reports a size change once it happened, and the first size when
    // the window is shown.
    void resizeEvent(QResizeEvent*) override
    {
        if (m_form)
            m_form->resized();
    }

    // Every repaint of the window (painting the controls that changed, then
    // flushing to the display) happens in one UpdateRequest: --stats times it.
    bool event(QEvent* E) override
    {
        if (E->type() != QEvent::UpdateRequest || !FrameStats::enabled())
            return QWidget::event(E);
        const std::int64_t start = FrameStats::nowNs();
        const std::int64_t cpu = FrameStats::threadCpuNs();
        const bool handled = QWidget::event(E);
        FrameStats::painted(start, FrameStats::nowNs(), FrameStats::threadCpuNs() - cpu);
        return handled;
    }
};

TForm::TForm(TComponent* AOwner) : TFmxObject(AOwner), m_widget(new FormWidget(this)) {}

TForm::~TForm()
{
    m_widget->m_form = nullptr;
    detachHandlers(*this);
    while (!m_children.empty())
        m_children.back()->SetParent(nullptr);
    delete std::exchange(m_widget, nullptr);
}

QWidget* TForm::widget() const
{
    return m_widget;
}

void TForm::SetCaption(const std::string& C)
{
    m_caption = C;
    m_widget->setWindowTitle(QString::fromStdString(C));
}

int TForm::ClientWidth() const
{
    return m_widget->width();
}

int TForm::ClientHeight() const
{
    return m_widget->height();
}

// A hidden window takes its size at once but reports it (OnResize) only when
// shown; the controls follow at once either way.
void TForm::SetClientWidth(int W)
{
    m_widget->resize(W, m_widget->height());
    for (TControl* child : m_children)
        child->parentResized();
}

void TForm::SetClientHeight(int H)
{
    m_widget->resize(m_widget->width(), H);
    for (TControl* child : m_children)
        child->parentResized();
}

TWindowState TForm::WindowState() const
{
    const Qt::WindowStates state = m_widget->windowState();
    if (state & Qt::WindowMinimized)
        return TWindowState::wsMinimized;
    if (state & Qt::WindowMaximized)
        return TWindowState::wsMaximized;
    return TWindowState::wsNormal;
}

void TForm::SetShowFullScreenIcon(bool Show)
{
    // Changing window flags hides a shown window: show it again.
    const bool wasVisible = m_widget->isVisible();
    m_widget->setWindowFlag(Qt::WindowFullscreenButtonHint, Show);
    if (wasVisible)
        m_widget->show();
}

void TForm::Close()
{
    if (!closeQuery())
        return;
    // The query has answered; the close event must not ask again. The
    // widget is only hidden, never deleted here, so this is safe from any
    // handler, a timer's included.
    m_widget->m_closeApproved = true;
    m_widget->close();
    m_widget->m_closeApproved = false;
}

void TForm::Show()
{
    m_closed = false;
    if (m_position == TFormPosition::DesktopCenter) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect desktop = screen->availableGeometry();
            m_widget->move(desktop.center() - QPoint(m_widget->width() / 2, m_widget->height() / 2));
        }
    }
    m_widget->show();
}

bool TForm::closeQuery()
{
    bool canClose = true;
    if (OnCloseQuery) {
        const TCloseQueryEvent handler = OnCloseQuery;
        handler(this, canClose);
    }
    m_closed = canClose;
    return canClose;
}

void TForm::keyDown(std::uint16_t Key, char16_t KeyChar, TShiftState Shift)
{
    if (OnKeyDown) {
        const TKeyEvent handler = OnKeyDown;
        handler(this, Key, KeyChar, Shift);
    }
}

void TForm::resized()
{
    for (TControl* child : m_children)
        child->parentResized();
    if (OnResize) {
        const TNotifyEvent handler = OnResize;
        handler(this);
    }
}

// ------------------------------------------------------------- TApplication

void TApplication::Initialize(int& argc, char** argv)
{
    m_exitCode = 0;
    if (!QCoreApplication::instance())
        m_app = std::make_unique<QApplication>(argc, argv);
    // Closing the main window ends Run.
    QGuiApplication::setQuitOnLastWindowClosed(true);
    Session::watch();
}

void TApplication::Run()
{
    if (!m_mainForm)
        return;
    m_mainForm->Show();
    if (!m_mainForm->isClosed()) {
        Session::setEventLoopRunning(true);
        QApplication::exec();
        Session::setEventLoopRunning(false);
    }
    // Ended by a signal: the status a shell gives a program the signal
    // killed (130 for Ctrl-C, 143 for SIGTERM), so a script still sees it
    // was interrupted, although the window closed as usual.
    if (const int signal = Session::endSignal())
        m_exitCode = 128 + signal;
}

void TApplication::ShowException(const std::exception& E)
{
    ShowException(std::string(E.what()));
}

// On stderr for a terminal, and in a dialog for a program started from the
// desktop's menu, where nobody reads stderr. A run that failed does not end
// with success.
void TApplication::ShowException(const std::string& Message)
{
    m_exitCode = 1;
    std::fprintf(stderr, "quorl-eye: %s\n", Message.c_str());
    std::fflush(stderr);
    const QString platform = QGuiApplication::platformName();
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) && platform != "offscreen" && platform != "minimal")
        QMessageBox::critical(nullptr, "Quorl Eye Vision",
                              Message.empty() ? QString("The program failed for an unknown reason.")
                                              : QString::fromStdString(Message));
}

// The form goes first: its controls' widgets need the Qt application. The
// Qt application goes here too rather than with the global object, whose
// destruction after main() would outlive Qt's own globals.
void TApplication::Terminate()
{
    m_mainForm.reset();
    Session::unwatch();
    m_app.reset();
}
