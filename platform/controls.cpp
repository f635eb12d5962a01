#include "platform/controls.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QGraphicsOpacityEffect>
#include <QFontInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace {

// Handlers are called through a copy: the program detaches and re-attaches
// handlers from inside handlers, which would otherwise destroy the very
// function object that is running.
template <class Handler, class... Args>
void fire(const Handler& H, Args&&... A)
{
    if (H) {
        const Handler copy = H;
        copy(std::forward<Args>(A)...);
    }
}

// ---------------------------------------------------------------- geometry

// The widget of a control: position rounded, size scaled then rounded. A
// scaled control grows from its top-left corner, which stays put.
QRect widgetRect(TPointF Pos, float W, float H, TPointF Scale)
{
    const int w = std::max(0, qRound(W * Scale.X));
    const int h = std::max(0, qRound(H * Scale.Y));
    return QRect(qRound(Pos.X), qRound(Pos.Y), w, h);
}

// The client area a child is aligned in: a control's own (unscaled) size,
// or the window's client area.
std::optional<QSizeF> clientSizeOf(const TFmxObject* Parent)
{
    if (!Parent)
        return std::nullopt;
    if (const auto* control = dynamic_cast<const TControl*>(Parent))
        return QSizeF(control->Width(), control->Height());
    if (const QWidget* w = Parent->widget())
        return QSizeF(w->size());
    return std::nullopt;
}

// Opacity multiplies down the tree: a label in a half-transparent panel is
// half-transparent too.
float absoluteOpacity(const TControl& C)
{
    float opacity = C.Opacity();
    for (const TFmxObject* p = C.Parent(); p; p = p->Parent()) {
        if (const auto* control = dynamic_cast<const TControl*>(p))
            opacity *= control->Opacity();
    }
    return opacity;
}

bool isStockWidget(const QWidget* W);

// A rectangle whose face is an opaque picture covering every pixel of its
// widget lets Qt skip painting whatever lies beneath it. That matters for
// the output picture, repainted at camera rate over the whole window. Only
// claimed when provable: an alpha-free bitmap stretched over the whole
// rectangle, no transparency, no scale and whole-pixel sizes (so no
// half-covered edge pixels).
bool paintsOpaque(TControl& C)
{
    auto* rect = dynamic_cast<TRectangle*>(&C);
    if (!rect || dynamic_cast<TCalloutRectangle*>(&C))
        return false;
    TBrush& fill = rect->Fill();
    return fill.Kind() == TBrushKind::Bitmap && !fill.Bitmap().IsEmpty() && !fill.Bitmap().hasAlpha() &&
           absoluteOpacity(C) >= 1.0f && C.Scale() == TPointF{1.0f, 1.0f} && C.Width() == std::floor(C.Width()) &&
           C.Height() == std::floor(C.Height());
}

void refreshOpaqueHint(TControl& C)
{
    QWidget* w = C.widget();
    if (!w || isStockWidget(w))
        return;
    const bool opaque = paintsOpaque(C);
    if (w->testAttribute(Qt::WA_OpaquePaintEvent) != opaque)
        w->setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

// ------------------------------------------------------------------ pointer

TShiftState shiftState(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons)
{
    TShiftState s = 0;
    if (Modifiers & Qt::ShiftModifier)
        s |= TShift::Shift;
    if (Modifiers & Qt::AltModifier)
        s |= TShift::Alt;
    if (Modifiers & Qt::ControlModifier)
        s |= TShift::Ctrl;
    if (Buttons & Qt::LeftButton)
        s |= TShift::Left;
    if (Buttons & Qt::RightButton)
        s |= TShift::Right;
    if (Buttons & Qt::MiddleButton)
        s |= TShift::Middle;
    return s;
}

TMouseButton mouseButton(Qt::MouseButton B)
{
    switch (B) {
    case Qt::RightButton:
        return TMouseButton::mbRight;
    case Qt::MiddleButton:
        return TMouseButton::mbMiddle;
    default:
        return TMouseButton::mbLeft;
    }
}

// Whether the control reacts to the pointer at all. Qt already routes
// around hidden, disabled and mouse-transparent widgets; checking again
// keeps the rules when an event is sent straight to a widget.
bool takesPointer(const TControl& C)
{
    const QWidget* w = C.widget();
    return w && w->isVisible() && w->isEnabled() && !w->testAttribute(Qt::WA_TransparentForMouseEvents);
}

// A point of the control's widget in the control's own unscaled
// coordinates: the widget shows the control at Scale x its size.
TPointF controlPoint(const TControl& C, QPointF WidgetPos)
{
    const TPointF s = C.Scale();
    return {s.X != 0.0f ? static_cast<float>(WidgetPos.x()) / s.X : 0.0f,
            s.Y != 0.0f ? static_cast<float>(WidgetPos.y()) / s.Y : 0.0f};
}

// Track bar geometry along its axis: the thumb's centre travels between
// half a thumb from either end, so Min and Max are both reachable.
constexpr float kThumbLength = 12.0f;

float trackLength(const TTrackBar& T)
{
    return T.Orientation() == TOrientation::Horizontal ? T.Width() : T.Height();
}

float trackValueAt(float Along, float Length, float Min, float Max)
{
    const float travel = Length - kThumbLength;
    if (travel <= 0.0f || Max <= Min)
        return Min;
    const float f = std::clamp((Along - kThumbLength / 2.0f) / travel, 0.0f, 1.0f);
    return Min + f * (Max - Min);
}

float trackThumbCentre(float Value, float Length, float Min, float Max)
{
    const float travel = std::max(0.0f, Length - kThumbLength);
    const float f = Max > Min ? std::clamp((Value - Min) / (Max - Min), 0.0f, 1.0f) : 0.0f;
    return kThumbLength / 2.0f + f * travel;
}

// The pointer state of one widget and the events it raises on its control.
// Press, move and release arrive with Qt's implicit grab, so the release
// comes to the widget that took the press wherever the pointer is.
struct PointerTracker {
    bool pressed = false;

    void press(TControl& C, QPointF Pos, const QMouseEvent& E)
    {
        pressed = true;
        const TPointF p = controlPoint(C, Pos);
        fire(C.OnMouseDown, &C, mouseButton(E.button()), shiftState(E.modifiers(), E.buttons()), p.X, p.Y);
        if (auto* track = dynamic_cast<TTrackBar*>(&C); track && E.button() == Qt::LeftButton)
            trackTo(*track, p);
    }

    void move(TControl& C, QPointF Pos, const QMouseEvent& E)
    {
        const TPointF p = controlPoint(C, Pos);
        fire(C.OnMouseMove, &C, shiftState(E.modifiers(), E.buttons()), p.X, p.Y);
        if (auto* track = dynamic_cast<TTrackBar*>(&C); track && pressed && (E.buttons() & Qt::LeftButton))
            trackTo(*track, p);
    }

    // A click needs both press and release on the control. Inside is judged
    // with the geometry at release time, before OnMouseUp may change it (a
    // pressed icon shrinks back on release).
    void release(TControl& C, QPointF Pos, bool Inside, const QMouseEvent& E, bool RaisesClick)
    {
        const bool wasPressed = std::exchange(pressed, false);
        const TPointF p = controlPoint(C, Pos);
        fire(C.OnMouseUp, &C, mouseButton(E.button()), shiftState(E.modifiers(), E.buttons()), p.X, p.Y);
        if (auto* track = dynamic_cast<TTrackBar*>(&C); track && wasPressed && E.button() == Qt::LeftButton)
            track->userRelease();
        if (RaisesClick && wasPressed && Inside)
            fire(C.OnClick, &C);
    }

    static void trackTo(TTrackBar& T, TPointF P)
    {
        const float along = T.Orientation() == TOrientation::Horizontal ? P.X : P.Y;
        T.userTrack(trackValueAt(along, trackLength(T), T.Min(), T.Max()));
    }
};

}  // namespace

// The widget of a painted control: paints the control's face and turns the
// pointer events into the control's events.
class ControlWidget final : public QWidget {
public:
    explicit ControlWidget(TControl* C) : m_control(C)
    {
        // Moves without a button pressed are events too (OnMouseMove).
        setMouseTracking(true);
    }

    TControl* m_control;  // nullptr once the control lets go of the widget

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_control)
            return;
        const float opacity = absoluteOpacity(*m_control);
        if (opacity <= 0.0f)
            return;
        QPainter painter(this);
        painter.setOpacity(opacity);
        const TPointF s = m_control->Scale();
        if (s.X != 1.0f || s.Y != 1.0f)
            painter.scale(s.X, s.Y);
        m_control->paint(painter);
    }

    void mousePressEvent(QMouseEvent* E) override
    {
        if (!m_control || !takesPointer(*m_control))
            return E->ignore();
        E->accept();
        m_pointer.press(*m_control, E->position(), *E);
    }

    void mouseMoveEvent(QMouseEvent* E) override
    {
        if (!m_control || (!m_pointer.pressed && !takesPointer(*m_control)))
            return E->ignore();
        E->accept();
        m_pointer.move(*m_control, E->position(), *E);
    }

    void mouseReleaseEvent(QMouseEvent* E) override
    {
        if (!m_control || (!m_pointer.pressed && !takesPointer(*m_control)))
            return E->ignore();
        E->accept();
        const bool inside = rect().contains(E->position().toPoint());
        m_pointer.release(*m_control, E->position(), inside, *E, true);
    }

    void leaveEvent(QEvent*) override
    {
        if (m_control)
            fire(m_control->OnMouseLeave, static_cast<TObject*>(m_control));
    }

    // Keys the control does not use (Escape among them) go on to the window.
    void keyPressEvent(QKeyEvent* E) override
    {
        const bool plain = !(E->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier));
        if (m_control && plain && m_control->userKey(E->key()))
            E->accept();
        else
            QWidget::keyPressEvent(E);
    }

    // A control hidden while pressed gets neither the release nor Qt's leave
    // (the press still holds the pointer). The pointer has left it all the
    // same: end the press without a click, or a pressed icon that fades out
    // would leave every other control deaf to the pointer.
    void hideEvent(QHideEvent*) override
    {
        if (m_control && std::exchange(m_pointer.pressed, false))
            fire(m_control->OnMouseLeave, static_cast<TObject*>(m_control));
    }

private:
    PointerTracker m_pointer;
};

namespace {

bool isStockWidget(const QWidget* W)
{
    return dynamic_cast<const ControlWidget*>(W) == nullptr;
}

// What a screen reader learns of a painted control: its role, its name (a
// label's or a text's is its text) and, for a track bar, its value, which
// it can also set as the user would.
class ControlAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ControlAccessible(ControlWidget* W) : QAccessibleWidget(W), m_widget(W) {}

    QAccessible::Role role() const override
    {
        TControl* c = m_widget->m_control;
        if (dynamic_cast<TTrackBar*>(c))
            return QAccessible::Slider;
        if (dynamic_cast<TTextControl*>(c))
            return QAccessible::StaticText;
        if (c && c->AccessibleRole() == TAccessibleRole::Button)
            return QAccessible::Button;
        return QAccessible::Client;
    }

    QString text(QAccessible::Text T) const override
    {
        if (auto* text = dynamic_cast<TTextControl*>(m_widget->m_control); text && T == QAccessible::Name)
            return QString::fromStdString(text->Text());
        if (auto* bar = trackBar(); bar && T == QAccessible::Value)
            return QString::number(bar->Value());
        return QAccessibleWidget::text(T);
    }

    void* interface_cast(QAccessible::InterfaceType T) override
    {
        if (T == QAccessible::ValueInterface && trackBar())
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(T);
    }

    QVariant currentValue() const override { return trackBar() ? trackBar()->Value() : QVariant(); }
    void setCurrentValue(const QVariant& V) override
    {
        if (TTrackBar* bar = trackBar(); bar && bar->Enabled()) {
            bar->userTrack(V.toFloat());
            bar->userRelease();
        }
    }
    QVariant maximumValue() const override { return trackBar() ? trackBar()->Max() : QVariant(); }
    QVariant minimumValue() const override { return trackBar() ? trackBar()->Min() : QVariant(); }
    QVariant minimumStepSize() const override { return 1.0; }

private:
    TTrackBar* trackBar() const { return dynamic_cast<TTrackBar*>(m_widget->m_control); }
    ControlWidget* m_widget;
};

// Qt asks the factories installed last first, so this one is asked before
// the stock widgets' factory, which would call a painted control a plain
// client area.
QAccessibleInterface* controlAccessible(const QString&, QObject* Object)
{
    auto* w = dynamic_cast<ControlWidget*>(Object);
    return w && w->m_control ? new ControlAccessible(w) : nullptr;
}

void tellAccessibility(QAccessibleEvent&& E)
{
    if (QAccessible::isActive())
        QAccessible::updateAccessibility(&E);
}

// Stock Qt widgets (button, memo) keep their own mouse handling; this filter
// only reports the pointer to the control. A memo's pointer events arrive at
// its viewport; a button's click comes from QPushButton::clicked instead.
class PointerForwarder final : public QObject {
public:
    PointerForwarder(TControl* C, QWidget* Target, bool RaisesClick)
        : QObject(Target), m_control(C), m_target(Target), m_raisesClick(RaisesClick)
    {
        Target->installEventFilter(this);
    }

    TControl* m_control;

protected:
    bool eventFilter(QObject* Watched, QEvent* E) override
    {
        if (!m_control || Watched != m_target)
            return false;
        switch (E->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (takesPointer(*m_control))
                m_pointer.press(*m_control, toControlWidget(E), *static_cast<QMouseEvent*>(E));
            break;
        case QEvent::MouseMove:
            if (m_pointer.pressed || takesPointer(*m_control))
                m_pointer.move(*m_control, toControlWidget(E), *static_cast<QMouseEvent*>(E));
            break;
        case QEvent::MouseButtonRelease:
            if (m_pointer.pressed) {
                auto* me = static_cast<QMouseEvent*>(E);
                const bool inside = m_target->rect().contains(me->position().toPoint());
                m_pointer.release(*m_control, toControlWidget(E), inside, *me, m_raisesClick);
            }
            break;
        case QEvent::Leave:
            fire(m_control->OnMouseLeave, static_cast<TObject*>(m_control));
            break;
        default:
            break;
        }
        return false;
    }

private:
    QPointF toControlWidget(QEvent* E) const
    {
        const QPointF p = static_cast<QMouseEvent*>(E)->position();
        QWidget* top = m_control->widget();
        return top && top != m_target ? QPointF(m_target->mapTo(top, p.toPoint())) : p;
    }

    QWidget* m_target;
    bool m_raisesClick;
    PointerTracker m_pointer;
};

// Cuts the links from a widget (and the filters it holds) back to its
// control, so nothing reaches a control that is going away.
void detachWidget(QWidget* W)
{
    if (auto* cw = dynamic_cast<ControlWidget*>(W))
        cw->m_control = nullptr;
    for (QObject* child : W->findChildren<QObject*>()) {
        if (auto* forwarder = dynamic_cast<PointerForwarder*>(child))
            forwarder->m_control = nullptr;
    }
}

void eraseChild(std::vector<TControl*>& Children, TControl* C)
{
    Children.erase(std::remove(Children.begin(), Children.end(), C), Children.end());
}

}  // namespace

// ---------------------------------------------------------------- TComponent

TComponent::TComponent(TComponent* AOwner) : m_owner(AOwner)
{
    if (m_owner)
        m_owner->m_components.push_back(this);
}

TComponent::~TComponent()
{
    // Newest first: what was created later may lean on what came before
    // (a label on its panel), never the other way round.
    while (!m_components.empty()) {
        TComponent* c = m_components.back();
        m_components.pop_back();
        c->m_owner = nullptr;
        delete c;
    }
    if (m_owner) {
        auto& siblings = m_owner->m_components;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

// ------------------------------------------------------------------ TControl

TControl::TControl(TComponent* AOwner) : TFmxObject(AOwner)
{
    static const bool accessible = [] {
        QAccessible::installFactory(controlAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
    setWidget(new ControlWidget(this));
}

TControl::~TControl()
{
    while (!m_children.empty())
        m_children.back()->SetParent(nullptr);
    if (m_parent)
        eraseChild(m_parent->m_children, this);
    if (QWidget* w = std::exchange(m_widget, nullptr)) {
        detachWidget(w);
        delete w;
    }
}

void TControl::setWidget(QWidget* W)
{
    QWidget* parentWidget = nullptr;
    if (QWidget* old = std::exchange(m_widget, nullptr)) {
        parentWidget = old->parentWidget();
        detachWidget(old);
        delete old;
    }
    m_widget = W;
    // The widget may also go first, with the widget tree of its parent.
    QObject::connect(W, &QObject::destroyed, [this, W] {
        if (m_widget == W)
            m_widget = nullptr;
    });
    if (isStockWidget(W)) {
        auto* area = qobject_cast<QAbstractScrollArea*>(W);
        new PointerForwarder(this, area ? area->viewport() : W, qobject_cast<QAbstractButton*>(W) == nullptr);
    }
    if (parentWidget)
        W->setParent(parentWidget);
    W->setEnabled(m_enabled);
    W->setAttribute(Qt::WA_TransparentForMouseEvents, !m_hitTest);
    SetCursor(m_cursor);
    SetOpacity(m_opacity);
    updateGeometry();
    if (parentWidget)
        W->setVisible(m_visible);
}

QWidget* TControl::widget() const
{
    return m_widget;
}

void TControl::SetParent(TFmxObject* AParent)
{
    if (m_parent)
        eraseChild(m_parent->m_children, this);
    m_parent = AParent;
    if (AParent)
        AParent->m_children.push_back(this);
    if (!m_widget)
        return;
    if (AParent && AParent->widget()) {
        m_widget->setParent(AParent->widget());
        m_widget->raise();
        updateGeometry();
        m_widget->setVisible(m_visible);
    } else {
        // Never let a control's widget become a window of its own.
        m_widget->hide();
        m_widget->setParent(nullptr);
    }
}

void TControl::SetPosition(TPointF P)
{
    m_position = P;
    updateGeometry();
}

void TControl::SetPositionX(float X)
{
    m_position.X = X;
    updateGeometry();
}

void TControl::SetPositionY(float Y)
{
    m_position.Y = Y;
    updateGeometry();
}

void TControl::SetWidth(float W)
{
    m_width = W;
    updateGeometry();
}

void TControl::SetHeight(float H)
{
    m_height = H;
    updateGeometry();
}

void TControl::SetSize(float W, float H)
{
    m_width = W;
    m_height = H;
    updateGeometry();
}

void TControl::SetScale(TPointF S)
{
    m_scale = S;
    updateGeometry();
    // The widget may keep its size after rounding while the face changes.
    requestRepaint();
}

void TControl::SetOpacity(float O)
{
    m_opacity = std::clamp(O, 0.0f, 1.0f);
    if (m_widget && isStockWidget(m_widget)) {
        // An effect renders the widget off-screen: only pay for it while
        // the control is actually see-through.
        if (m_opacity < 1.0f) {
            auto* effect = dynamic_cast<QGraphicsOpacityEffect*>(m_widget->graphicsEffect());
            if (!effect) {
                effect = new QGraphicsOpacityEffect;
                m_widget->setGraphicsEffect(effect);
            }
            effect->setOpacity(m_opacity);
        } else if (m_widget->graphicsEffect()) {
            m_widget->setGraphicsEffect(nullptr);
        }
    }
    requestRepaint();
}

void TControl::SetVisible(bool V)
{
    m_visible = V;
    if (m_widget && m_widget->parentWidget())
        m_widget->setVisible(V);
}

void TControl::SetEnabled(bool E)
{
    m_enabled = E;
    if (m_widget)
        m_widget->setEnabled(E);
}

void TControl::SetHitTest(bool H)
{
    m_hitTest = H;
    if (m_widget)
        m_widget->setAttribute(Qt::WA_TransparentForMouseEvents, !H);
}

void TControl::SetCursor(TCursor C)
{
    m_cursor = C;
    if (m_widget)
        m_widget->setCursor(C == crHandPoint ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TControl::SetAlign(TAlignLayout A)
{
    m_align = A;
    updateGeometry();
}

void TControl::BringToFront()
{
    if (m_parent) {
        auto& siblings = m_parent->m_children;
        eraseChild(siblings, this);
        siblings.push_back(this);
    }
    if (m_widget)
        m_widget->raise();
}

void TControl::updateGeometry()
{
    if (m_align != TAlignLayout::None) {
        if (const auto client = clientSizeOf(m_parent)) {
            const float pw = static_cast<float>(client->width());
            const float ph = static_cast<float>(client->height());
            if (m_align == TAlignLayout::Client) {
                m_position = {0.0f, 0.0f};
                m_width = pw;
                m_height = ph;
            } else {
                m_position = {(pw - m_width) / 2.0f, (ph - m_height) / 2.0f};
            }
        }
    }
    if (!m_widget)
        return;
    m_widget->setGeometry(widgetRect(m_position, m_width, m_height, m_scale));
    refreshOpaqueHint(*this);
    for (TControl* child : m_children)
        child->parentResized();
}

void TControl::paint(QPainter&) {}

bool TControl::userKey(int)
{
    return false;
}

std::string TControl::AccessibleName() const
{
    return m_widget ? m_widget->accessibleName().toStdString() : std::string();
}

// Qt tells a screen reader of the new name.
void TControl::SetAccessibleName(const std::string& N)
{
    if (m_widget)
        m_widget->setAccessibleName(QString::fromStdString(N));
}

void TControl::parentResized()
{
    if (m_align != TAlignLayout::None)
        updateGeometry();
}

void TControl::requestRepaint()
{
    if (!m_widget)
        return;
    refreshOpaqueHint(*this);
    m_widget->update();
}

// -------------------------------------------------------------------- TBrush

void TBrush::SetKind(TBrushKind K)
{
    if (K == m_kind)
        return;
    m_kind = K;
    fire(OnChange);
}

void TBrush::SetColor(TAlphaColor C)
{
    if (C == m_color)
        return;
    m_color = C;
    fire(OnChange);
}

void TBrush::SetWrapMode(TWrapMode W)
{
    if (W == m_wrapMode)
        return;
    m_wrapMode = W;
    fire(OnChange);
}

namespace {

QColor toQColor(TAlphaColor C)
{
    return QColor::fromRgba(C);
}

bool isTransparent(TAlphaColor C)
{
    return (C >> 24) == 0;
}

// Fills Bounds (clipped to Shape when given) with the brush. Every wrap mode
// stretches the bitmap over the whole area: the program only uses
// TileStretch, and a stretched picture is never wrong to look at.
void paintFill(QPainter& P, const TBrush& B, const QRectF& Bounds, const QPainterPath* Shape)
{
    switch (B.Kind()) {
    case TBrushKind::None:
        return;
    case TBrushKind::Solid:
        if (isTransparent(B.Color()))
            return;
        if (Shape)
            P.fillPath(*Shape, toQColor(B.Color()));
        else
            P.fillRect(Bounds, toQColor(B.Color()));
        return;
    case TBrushKind::Bitmap: {
        const QImage& image = B.Bitmap().image();
        if (image.isNull())
            return;
        P.save();
        if (Shape)
            P.setClipPath(*Shape, Qt::IntersectClip);
        // The camera picture arrives at window size 30-60 times a second:
        // the same size is a straight blit, anything else a smooth scale.
        if (image.width() == Bounds.width() && image.height() == Bounds.height()) {
            P.drawImage(Bounds.topLeft(), image);
        } else {
            P.setRenderHint(QPainter::SmoothPixmapTransform);
            P.drawImage(Bounds, image);
        }
        P.restore();
        return;
    }
    }
}

void paintStroke(QPainter& P, const TBrush& B, const QRectF& Bounds, const QPainterPath* Shape)
{
    if (B.Kind() == TBrushKind::None || isTransparent(B.Color()))
        return;
    P.save();
    P.setPen(QPen(toQColor(B.Color()), 1.0));
    P.setBrush(Qt::NoBrush);
    if (Shape) {
        P.setRenderHint(QPainter::Antialiasing);
        P.drawPath(*Shape);
    } else {
        // A 1 px line on the pixel centres just inside the edge.
        P.drawRect(Bounds.adjusted(0.5, 0.5, -0.5, -0.5));
    }
    P.restore();
}

}  // namespace

// ---------------------------------------------------------------- TRectangle

TRectangle::TRectangle(TComponent* AOwner) : TControl(AOwner)
{
    m_stroke.m_color = TAlphaColors::Black;
    m_fill.OnChange = [this] { requestRepaint(); };
    m_stroke.OnChange = [this] { requestRepaint(); };
    // Drawing into the fill bitmap (EndScene, SetSize, Assign...) shows at
    // once: the program never asks for a repaint.
    m_fill.m_bitmap.OnChange = [this] { requestRepaint(); };
}

void TRectangle::paint(QPainter& Painter)
{
    const QRectF bounds(0.0, 0.0, Width(), Height());
    paintFill(Painter, m_fill, bounds, nullptr);
    paintStroke(Painter, m_stroke, bounds, nullptr);
}

TCalloutRectangle::TCalloutRectangle(TComponent* AOwner) : TRectangle(AOwner) {}

void TCalloutRectangle::SetCalloutWidth(float W)
{
    m_calloutWidth = W;
    requestRepaint();
}

void TCalloutRectangle::SetCalloutLength(float L)
{
    m_calloutLength = L;
    requestRepaint();
}

// A box with a pointer on top, centred:
//
//            /\            <- CalloutLength high, CalloutWidth wide
//   +-------/  \-------+
//   |                  |
//   +------------------+
void TCalloutRectangle::paint(QPainter& Painter)
{
    const qreal w = Width();
    const qreal h = Height();
    const qreal tip = std::clamp<qreal>(m_calloutLength, 0.0, h);
    const qreal half = std::clamp<qreal>(m_calloutWidth / 2.0, 0.0, w / 2.0);
    QPainterPath shape;
    shape.moveTo(0.0, tip);
    shape.lineTo(w / 2.0 - half, tip);
    shape.lineTo(w / 2.0, 0.0);
    shape.lineTo(w / 2.0 + half, tip);
    shape.lineTo(w, tip);
    shape.lineTo(w, h);
    shape.lineTo(0.0, h);
    shape.closeSubpath();
    const QRectF bounds(0.0, 0.0, w, h);
    paintFill(Painter, Fill(), bounds, &shape);
    paintStroke(Painter, Stroke(), bounds, &shape);
}

// -------------------------------------------------------------- text controls

namespace {

// The style's text size: the application's default font.
// Font sizes are in the window's logical units, like every other measure of
// a control: a 12 is text 12 units high, whatever the screen's DPI.
float styleFontSize()
{
    const int size = QFontInfo(QGuiApplication::font()).pixelSize();
    return size > 0 ? static_cast<float>(size) : 12.0f;
}

QFont textFont(const TTextControl& T)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(std::max(1, qRound(T.EffectiveFontSize())));
    return font;
}

}  // namespace

TTextControl::TTextControl(TComponent* AOwner) : TControl(AOwner) {}

void TTextControl::SetText(const std::string& T)
{
    m_text = T;
    textChanged();
}

void TTextControl::SetStyledSettings(TStyledSettings S)
{
    m_styled = S;
    textChanged();
}

void TTextControl::SetFontSize(float S)
{
    m_fontSize = S;
    textChanged();
}

float TTextControl::EffectiveFontSize() const
{
    return (m_styled & TStyledSetting::Size) ? styleFontSize() : m_fontSize;
}

void TTextControl::textChanged()
{
    requestRepaint();
    if (widget() && !isStockWidget(widget()))
        tellAccessibility(QAccessibleEvent(widget(), QAccessible::NameChanged));
}

TText::TText(TComponent* AOwner) : TTextControl(AOwner) {}

void TText::paint(QPainter& Painter)
{
    Painter.setFont(textFont(*this));
    Painter.setPen(Qt::black);
    Painter.drawText(QRectF(0.0, 0.0, Width(), Height()), Qt::AlignCenter | Qt::TextWordWrap,
                     QString::fromStdString(Text()));
}

TLabel::TLabel(TComponent* AOwner) : TTextControl(AOwner) {}

void TLabel::paint(QPainter& Painter)
{
    Painter.setFont(textFont(*this));
    Painter.setPen(Qt::black);
    Painter.drawText(QRectF(0.0, 0.0, Width(), Height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromStdString(Text()));
}

TButton::TButton(TComponent* AOwner) : TTextControl(AOwner)
{
    auto* button = new QPushButton;
    // Return clicks a focused button too, not only Space.
    button->setAutoDefault(true);
    setWidget(button);
    QObject::connect(button, &QPushButton::clicked, [this] { fire(OnClick, static_cast<TObject*>(this)); });
}

void TButton::textChanged()
{
    auto* button = static_cast<QPushButton*>(widget());
    if (!button)
        return;
    button->setText(QString::fromStdString(Text()));
    // A default-constructed font resolves nothing: the button follows the
    // style again.
    button->setFont((StyledSettings() & TStyledSetting::Size) ? QFont() : textFont(*this));
}

// --------------------------------------------------------------------- TMemo

namespace {

// The memo's text can be selected and copied, never dragged out. A press on
// selected text would make the next move start a text drag, and Qt hands
// the press over to the drag: the memo never gets the release. A move that
// left the box has then started Qt's auto-scroll timer, which goes on
// sending the memo moves with the button down, each beyond the drag
// distance starting another drag, and every drag takes the press from
// whichever control holds it. So a press always starts a new selection
// (Shift still extends the old one).
class MemoEdit final : public QPlainTextEdit {
protected:
    void mousePressEvent(QMouseEvent* E) override
    {
        if (E->button() == Qt::LeftButton && !(E->modifiers() & Qt::ShiftModifier) && textCursor().hasSelection())
            setTextCursor(cursorForPosition(E->position().toPoint()));
        QPlainTextEdit::mousePressEvent(E);
    }
};

}  // namespace

TMemo::TMemo(TComponent* AOwner) : TControl(AOwner)
{
    auto* edit = new MemoEdit;
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    setWidget(edit);
    m_lines.OnChange = [this] {
        auto* e = static_cast<QPlainTextEdit*>(widget());
        if (!e)
            return;
        QStringList lines;
        for (const std::string& line : m_lines.items())
            lines << QString::fromStdString(line);
        e->setPlainText(lines.join(QLatin1Char('\n')));
    };
}

void TMemo::SetReadOnly(bool R)
{
    m_readOnly = R;
    if (auto* e = static_cast<QPlainTextEdit*>(widget()))
        e->setReadOnly(R);
}

void TMemo::SetWordWrap(bool W)
{
    m_wordWrap = W;
    if (auto* e = static_cast<QPlainTextEdit*>(widget()))
        e->setLineWrapMode(W ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

// ----------------------------------------------------------------- TTrackBar

TTrackBar::TTrackBar(TComponent* AOwner) : TControl(AOwner)
{
    widget()->setFocusPolicy(Qt::StrongFocus);
}

void TTrackBar::SetMin(float V)
{
    m_min = V;
    if (m_max < m_min)
        m_max = m_min;
    assignValue(m_value);
    requestRepaint();
}

void TTrackBar::SetMax(float V)
{
    m_max = V;
    if (m_min > m_max)
        m_min = m_max;
    assignValue(m_value);
    requestRepaint();
}

void TTrackBar::SetValue(float V)
{
    assignValue(V);
}

void TTrackBar::SetOrientation(TOrientation O)
{
    m_orientation = O;
    requestRepaint();
}

// Values set from code: OnChange whenever Value really changes, also when a
// new range clamps it.
void TTrackBar::assignValue(float V)
{
    const float clamped = std::clamp(V, m_min, m_max);
    if (clamped == m_value)
        return;
    m_value = clamped;
    m_valueAtPress = m_value;
    valueShown();
    fire(OnChange, static_cast<TObject*>(this));
}

void TTrackBar::userTrack(float V)
{
    const float clamped = std::clamp(V, m_min, m_max);
    if (clamped == m_value)
        return;
    m_value = clamped;
    valueShown();
    fire(OnTracking, static_cast<TObject*>(this));
    if (m_tracking)
        fire(OnChange, static_cast<TObject*>(this));
}

// Without Tracking, a drag reports one change when it ends, and only if it
// ended somewhere else than it began. m_valueAtPress follows every settled
// value, so it holds the value the drag started from.
void TTrackBar::userRelease()
{
    const bool moved = m_value != m_valueAtPress;
    m_valueAtPress = m_value;
    if (!m_tracking && moved)
        fire(OnChange, static_cast<TObject*>(this));
}

bool TTrackBar::userKey(int Key)
{
    float to = m_value;
    switch (Key) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        to = m_value - 1.0f;
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        to = m_value + 1.0f;
        break;
    case Qt::Key_Home:
        to = m_min;
        break;
    case Qt::Key_End:
        to = m_max;
        break;
    default:
        return false;
    }
    userTrack(to);
    userRelease();
    return true;
}

void TTrackBar::valueShown()
{
    requestRepaint();
    if (widget())
        tellAccessibility(QAccessibleValueChangeEvent(widget(), m_value));
}

void TTrackBar::paint(QPainter& Painter)
{
    const bool horizontal = m_orientation == TOrientation::Horizontal;
    const qreal length = trackLength(*this);
    const qreal across = horizontal ? Height() : Width();
    const qreal thumb = trackThumbCentre(m_value, static_cast<float>(length), m_min, m_max);
    // Work in "along x across" coordinates; a vertical bar is the same
    // picture turned by a quarter.
    Painter.save();
    if (!horizontal) {
        Painter.translate(Width(), 0.0);
        Painter.rotate(90.0);
    }
    Painter.setRenderHint(QPainter::Antialiasing);
    const bool enabled = Enabled();
    const QColor groove(0xB8, 0xB8, 0xB8);
    const QColor filled = enabled ? QColor(0x3A, 0x7B, 0xD5) : QColor(0x9A, 0x9A, 0x9A);
    const qreal grooveHeight = 4.0;
    const QRectF grooveRect(kThumbLength / 2.0, (across - grooveHeight) / 2.0,
                            std::max<qreal>(0.0, length - kThumbLength), grooveHeight);
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(groove);
    Painter.drawRoundedRect(grooveRect, 2.0, 2.0);
    Painter.setBrush(filled);
    Painter.drawRoundedRect(QRectF(grooveRect.left(), grooveRect.top(), thumb - grooveRect.left(), grooveHeight), 2.0,
                            2.0);
    const qreal thumbAcross = std::min<qreal>(across - 2.0, 18.0);
    Painter.setPen(QPen(QColor(0x70, 0x70, 0x70), 1.0));
    Painter.setBrush(enabled ? QColor(0xF4, 0xF4, 0xF4) : QColor(0xDC, 0xDC, 0xDC));
    Painter.drawRoundedRect(
        QRectF(thumb - kThumbLength / 2.0 + 0.5, (across - thumbAcross) / 2.0, kThumbLength - 1.0, thumbAcross), 3.0,
        3.0);
    // The keyboard's focus shows as a frame around the bar.
    if (widget() && widget()->hasFocus()) {
        Painter.setBrush(Qt::NoBrush);
        Painter.setPen(QPen(QColor(0x3A, 0x7B, 0xD5), 1.0, Qt::DotLine));
        Painter.drawRoundedRect(QRectF(0.5, 0.5, length - 1.0, across - 1.0), 3.0, 3.0);
    }
    Painter.restore();
}
