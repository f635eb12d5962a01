#pragma once

// The control family over Qt Widgets. Geometry is kept on the control in
// floats (a position of 459.5 stays 459.5) and only rounded when it is given
// to the widget. A scaled control is drawn from its top-left corner at
// Scale x its size. Children are kept in stacking order: the first child lies
// at the bottom.

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "platform/types.h"

class QPainter;

// Owns components: an owner deletes what it owns when it is deleted.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const { return m_name; }
    void SetName(const std::string& Name) { m_name = Name; }
    TComponent* Owner() const { return m_owner; }

    int ComponentCount() const { return static_cast<int>(m_components.size()); }
    TComponent* Components(int Index) const { return m_components.at(static_cast<std::size_t>(Index)); }

private:
    std::string m_name;
    TComponent* m_owner = nullptr;
    std::vector<TComponent*> m_components;  // in creation order
};

class TControl;

// Anything that holds child controls: the window and the controls themselves.
class TFmxObject : public TComponent {
public:
    explicit TFmxObject(TComponent* AOwner) : TComponent(AOwner) {}

    TFmxObject* Parent() const { return m_parent; }
    int ChildrenCount() const { return static_cast<int>(m_children.size()); }
    TControl* Children(int Index) const { return m_children.at(static_cast<std::size_t>(Index)); }

    // The widget that hosts this object's children.
    virtual QWidget* widget() const = 0;

protected:
    friend class TControl;
    TFmxObject* m_parent = nullptr;
    std::vector<TControl*> m_children;
};

enum class TAlignLayout { None, Client, Center };

// What assistive technology (a screen reader) is told a control is. Track
// bars, labels, buttons and memos say so themselves; a rectangle that acts
// as a button has to be told.
enum class TAccessibleRole { Default, Button };

class ControlWidget;

class TControl : public TFmxObject {
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;

    // Becomes the last (topmost) child of AParent.
    void SetParent(TFmxObject* AParent);

    TPointF Position() const { return m_position; }
    void SetPosition(TPointF P);
    void SetPositionX(float X);
    void SetPositionY(float Y);
    float Width() const { return m_width; }
    float Height() const { return m_height; }
    void SetWidth(float W);
    void SetHeight(float H);
    void SetSize(float W, float H);
    TPointF Scale() const { return m_scale; }
    void SetScale(TPointF S);
    float Opacity() const { return m_opacity; }
    void SetOpacity(float O);
    bool Visible() const { return m_visible; }
    void SetVisible(bool V);
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool E);
    bool HitTest() const { return m_hitTest; }
    void SetHitTest(bool H);
    TCursor Cursor() const { return m_cursor; }
    void SetCursor(TCursor C);
    TAlignLayout Align() const { return m_align; }
    void SetAlign(TAlignLayout A);
    // Moves the control to the top of its siblings (last in the child list).
    void BringToFront();
    // The place in the keyboard's Tab order among the controls that take
    // focus; -1: after those that have one, in the order they were made.
    int TabOrder() const { return m_tabOrder; }
    void SetTabOrder(int T) { m_tabOrder = T; }
    // What a screen reader announces: the role and a name that says what
    // the control does.
    TAccessibleRole AccessibleRole() const { return m_accessibleRole; }
    void SetAccessibleRole(TAccessibleRole R) { m_accessibleRole = R; }
    std::string AccessibleName() const;
    void SetAccessibleName(const std::string& N);

    TNotifyEvent OnClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TNotifyEvent OnMouseLeave;

    QWidget* widget() const override;
    // Applies float geometry, scale and alignment to the widget.
    void updateGeometry();
    // Paints the control's own face in its unscaled local coordinates; the
    // caller has applied scale and opacity.
    virtual void paint(QPainter& Painter);
    // Called by the widget when the platform widget's parent was resized.
    virtual void parentResized();
    // A key pressed while the control has the keyboard focus (a Qt::Key);
    // false lets the key go on to the window.
    virtual bool userKey(int Key);

protected:
    // Controls that are backed by a stock Qt widget create it here; the
    // default is a widget that paints through paint().
    void setWidget(QWidget* W);
    void requestRepaint();

private:
    QWidget* m_widget = nullptr;
    TPointF m_position;
    float m_width = 0.0f;
    float m_height = 0.0f;
    TPointF m_scale{1.0f, 1.0f};
    float m_opacity = 1.0f;
    bool m_visible = true;
    bool m_enabled = true;
    bool m_hitTest = true;
    TCursor m_cursor = crDefault;
    TAlignLayout m_align = TAlignLayout::None;
    int m_tabOrder = -1;
    TAccessibleRole m_accessibleRole = TAccessibleRole::Default;
};

enum class TBrushKind { None, Solid, Bitmap };
enum class TWrapMode { Tile, TileOriginal, TileStretch };

class TBrush {
public:
    TBrushKind Kind() const { return m_kind; }
    void SetKind(TBrushKind K);
    TAlphaColor Color() const { return m_color; }
    void SetColor(TAlphaColor C);
    TWrapMode WrapMode() const { return m_wrapMode; }
    void SetWrapMode(TWrapMode W);
    // The brush's own bitmap, drawn when Kind is Bitmap.
    TBitmap& Bitmap() { return m_bitmap; }
    const TBitmap& Bitmap() const { return m_bitmap; }

    std::function<void()> OnChange;

private:
    friend class TRectangle;
    TBrushKind m_kind = TBrushKind::Solid;
    TAlphaColor m_color = 0xFFE0E0E0;
    TWrapMode m_wrapMode = TWrapMode::Tile;
    TBitmap m_bitmap;
};

class TRectangle : public TControl {
public:
    explicit TRectangle(TComponent* AOwner);
    TBrush& Fill() { return m_fill; }
    TBrush& Stroke() { return m_stroke; }
    void paint(QPainter& Painter) override;

private:
    TBrush m_fill;
    TBrush m_stroke;
};

class TCalloutRectangle : public TRectangle {
public:
    explicit TCalloutRectangle(TComponent* AOwner);
    float CalloutWidth() const { return m_calloutWidth; }
    void SetCalloutWidth(float W);
    float CalloutLength() const { return m_calloutLength; }
    void SetCalloutLength(float L);
    void paint(QPainter& Painter) override;

private:
    float m_calloutWidth = 23.0f;
    float m_calloutLength = 11.0f;
};

// Style settings that a control takes from its style rather than from its
// own TextSettings.
using TStyledSettings = std::uint32_t;
namespace TStyledSetting {
inline constexpr TStyledSettings Family = 1u << 0;
inline constexpr TStyledSettings Size = 1u << 1;
inline constexpr TStyledSettings Style = 1u << 2;
inline constexpr TStyledSettings FontColor = 1u << 3;
inline constexpr TStyledSettings Other = 1u << 4;
inline constexpr TStyledSettings All = Family | Size | Style | FontColor | Other;
}  // namespace TStyledSetting

// The text part shared by labels, buttons and text controls.
class TTextControl : public TControl {
public:
    explicit TTextControl(TComponent* AOwner);
    const std::string& Text() const { return m_text; }
    void SetText(const std::string& T);
    TStyledSettings StyledSettings() const { return m_styled; }
    void SetStyledSettings(TStyledSettings S);
    // TextSettings' font size in points. While Size is in StyledSettings the
    // style's size is shown instead.
    float FontSize() const { return m_fontSize; }
    void SetFontSize(float S);
    // The size the text is drawn with.
    float EffectiveFontSize() const;

protected:
    virtual void textChanged();

private:
    std::string m_text;
    TStyledSettings m_styled = TStyledSetting::All;
    float m_fontSize = 12.0f;
};

class TText : public TTextControl {
public:
    explicit TText(TComponent* AOwner);
    void paint(QPainter& Painter) override;
};

class TLabel : public TTextControl {
public:
    explicit TLabel(TComponent* AOwner);
    void paint(QPainter& Painter) override;
};

class TButton : public TTextControl {
public:
    explicit TButton(TComponent* AOwner);

protected:
    void textChanged() override;
};

class TMemo : public TControl {
public:
    explicit TMemo(TComponent* AOwner);
    TStringList& Lines() { return m_lines; }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool R);
    bool WordWrap() const { return m_wordWrap; }
    void SetWordWrap(bool W);

private:
    TStringList m_lines;
    bool m_readOnly = false;
    bool m_wordWrap = false;
};

enum class TOrientation { Horizontal, Vertical };

// A track bar with a continuous float value. Setting Min, Max or Value from
// code raises OnChange whenever Value changes (a range change that clamps
// Value included). A user's drag raises OnTracking at every change and
// OnChange at every change while Tracking is true, otherwise once on release.
class TTrackBar : public TControl {
public:
    explicit TTrackBar(TComponent* AOwner);
    float Min() const { return m_min; }
    void SetMin(float V);
    float Max() const { return m_max; }
    void SetMax(float V);
    float Value() const { return m_value; }
    void SetValue(float V);
    bool Tracking() const { return m_tracking; }
    void SetTracking(bool T) { m_tracking = T; }
    TOrientation Orientation() const { return m_orientation; }
    void SetOrientation(TOrientation O);
    bool CanParentFocus() const { return m_canParentFocus; }
    void SetCanParentFocus(bool C) { m_canParentFocus = C; }

    TNotifyEvent OnChange;
    TNotifyEvent OnTracking;

    void paint(QPainter& Painter) override;

    // Platform side: the pointer moved the thumb to V / was released.
    void userTrack(float V);
    void userRelease();
    // The arrow keys move the thumb by one (one step of a whole-numbered
    // range), Home and End to the ends; each press is one change, as a
    // drag that ends there.
    bool userKey(int Key) override;

private:
    void assignValue(float V);
    void valueShown();
    float m_min = 0.0f;
    float m_max = 10.0f;
    float m_value = 0.0f;
    float m_valueAtPress = 0.0f;
    bool m_tracking = true;
    bool m_canParentFocus = false;
    TOrientation m_orientation = TOrientation::Horizontal;
};
