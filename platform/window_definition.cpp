#include "platform/window_definition.h"

#include <QWidget>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>

#include "platform/camera/camera_component.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "platform/style_book.h"
#include "platform/timing.h"

namespace {

[[noreturn]] void fail(const std::string& where, const std::string& what)
{
    throw std::runtime_error("window definition: " + where + ": " + what);
}

float toFloat(const std::string& where, const std::string& value)
{
    try {
        std::size_t used = 0;
        const float f = std::stof(value, &used);
        if (used == value.size())
            return f;
    } catch (const std::exception&) {
    }
    fail(where, "not a number: '" + value + "'");
}

bool toBool(const std::string& where, const std::string& value)
{
    if (value == "True")
        return true;
    if (value == "False")
        return false;
    fail(where, "not True or False: '" + value + "'");
}

// Values that only place things on the designer surface or describe touch
// and data-detector behaviour of other platforms: accepted, no run-time effect.
bool isDesignerOnly(const std::string& name)
{
    static const char* const names[] = {"Left",
                                        "Top",
                                        "FormFactor.Width",
                                        "FormFactor.Height",
                                        "FormFactor.Devices",
                                        "DesignerMasterStyle",
                                        "Touch.InteractiveGestures",
                                        "DataDetectorTypes",
                                        "Viewport.Width",
                                        "Viewport.Height"};
    for (const char* n : names)
        if (name == n)
            return true;
    return false;
}

TComponent* create(const std::string& className, TComponent* owner)
{
    if (className == "TRectangle")
        return new TRectangle(owner);
    if (className == "TCalloutRectangle")
        return new TCalloutRectangle(owner);
    if (className == "TText")
        return new TText(owner);
    if (className == "TLabel")
        return new TLabel(owner);
    if (className == "TButton")
        return new TButton(owner);
    if (className == "TMemo")
        return new TMemo(owner);
    if (className == "TTrackBar")
        return new TTrackBar(owner);
    if (className == "TTimer")
        return new TTimer(owner);
    if (className == "TStyleBook")
        return new TStyleBook(owner);
    if (className == "TCameraComponent")
        return new TCameraComponent(owner);
    return nullptr;
}

void applyFormProperty(TForm& form, const std::string& where, const PropertyRow& p)
{
    if (isDesignerOnly(p.Name))
        return;
    if (p.Name == "Caption")
        form.SetCaption(p.Value);
    else if (p.Name == "ClientWidth")
        form.SetClientWidth(static_cast<int>(toFloat(where, p.Value)));
    else if (p.Name == "ClientHeight")
        form.SetClientHeight(static_cast<int>(toFloat(where, p.Value)));
    else if (p.Name == "Position" && p.Value == "DesktopCenter")
        form.SetPosition(TFormPosition::DesktopCenter);
    else
        fail(where, "unknown property " + p.Name + " = " + p.Value);
}

void applyProperty(TComponent* c, const std::string& where, const PropertyRow& p)
{
    if (isDesignerOnly(p.Name))
        return;
    if (auto* control = dynamic_cast<TControl*>(c)) {
        if (p.Name == "Position.X")
            return control->SetPositionX(toFloat(where, p.Value));
        if (p.Name == "Position.Y")
            return control->SetPositionY(toFloat(where, p.Value));
        if (p.Name == "Size.Width")
            return control->SetWidth(toFloat(where, p.Value));
        if (p.Name == "Size.Height")
            return control->SetHeight(toFloat(where, p.Value));
        if (p.Name == "Visible")
            return control->SetVisible(toBool(where, p.Value));
        if (p.Name == "TabOrder")
            return control->SetTabOrder(static_cast<int>(toFloat(where, p.Value)));
        if (p.Name == "Align") {
            if (p.Value == "Client")
                return control->SetAlign(TAlignLayout::Client);
            if (p.Value == "Center")
                return control->SetAlign(TAlignLayout::Center);
            fail(where, "unknown alignment " + p.Value);
        }
    }
    if (auto* text = dynamic_cast<TTextControl*>(c); text && p.Name == "Text")
        return text->SetText(p.Value);
    if (auto* memo = dynamic_cast<TMemo*>(c); memo && p.Name == "ReadOnly")
        return memo->SetReadOnly(toBool(where, p.Value));
    if (auto* bar = dynamic_cast<TTrackBar*>(c)) {
        if (p.Name == "CanParentFocus")
            return bar->SetCanParentFocus(toBool(where, p.Value));
        if (p.Name == "Orientation" && p.Value == "Horizontal")
            return bar->SetOrientation(TOrientation::Horizontal);
        if (p.Name == "Orientation" && p.Value == "Vertical")
            return bar->SetOrientation(TOrientation::Vertical);
    }
    if (auto* callout = dynamic_cast<TCalloutRectangle*>(c)) {
        if (p.Name == "CalloutWidth")
            return callout->SetCalloutWidth(toFloat(where, p.Value));
        if (p.Name == "CalloutLength")
            return callout->SetCalloutLength(toFloat(where, p.Value));
    }
    if (auto* timer = dynamic_cast<TTimer*>(c)) {
        if (p.Name == "Enabled")
            return timer->SetEnabled(toBool(where, p.Value));
        if (p.Name == "Interval")
            return timer->SetInterval(static_cast<int>(toFloat(where, p.Value)));
    }
    fail(where, "unknown property " + p.Name + " = " + p.Value);
}

template <class Slot>
void assign(Slot& slot, const PublishedHandler& handler, const std::string& where)
{
    const Slot* h = std::get_if<Slot>(&handler);
    if (!h)
        fail(where, "the handler does not fit the event");
    slot = *h;
}

void wire(TComponent* c, TForm* form, const EventRow& e, const PublishedHandler& h, const std::string& where)
{
    if (form) {
        if (e.Event == "OnCloseQuery")
            return assign(form->OnCloseQuery, h, where);
        if (e.Event == "OnKeyDown")
            return assign(form->OnKeyDown, h, where);
        if (e.Event == "OnResize")
            return assign(form->OnResize, h, where);
        fail(where, "the window has no event " + e.Event);
    }
    if (auto* bar = dynamic_cast<TTrackBar*>(c)) {
        if (e.Event == "OnChange")
            return assign(bar->OnChange, h, where);
        if (e.Event == "OnTracking")
            return assign(bar->OnTracking, h, where);
    }
    if (auto* control = dynamic_cast<TControl*>(c)) {
        if (e.Event == "OnClick")
            return assign(control->OnClick, h, where);
        if (e.Event == "OnMouseDown")
            return assign(control->OnMouseDown, h, where);
        if (e.Event == "OnMouseMove")
            return assign(control->OnMouseMove, h, where);
        if (e.Event == "OnMouseUp")
            return assign(control->OnMouseUp, h, where);
        if (e.Event == "OnMouseLeave")
            return assign(control->OnMouseLeave, h, where);
    }
    if (auto* timer = dynamic_cast<TTimer*>(c); timer && e.Event == "OnTimer")
        return assign(timer->OnTimer, h, where);
    if (auto* camera = dynamic_cast<TCameraComponent*>(c); camera && e.Event == "OnSampleBufferReady")
        return assign(camera->OnSampleBufferReady, h, where);
    fail(where, "no event " + e.Event);
}

// Tab and Shift+Tab move the keyboard focus among the controls that take it
// in their TabOrder (those without one last, in the order they were made);
// Qt passes over the hidden and disabled ones.
void arrangeTabOrder(TForm& Form)
{
    std::vector<TControl*> chain;
    for (int i = 0; i < Form.ComponentCount(); ++i) {
        auto* control = dynamic_cast<TControl*>(Form.Components(i));
        if (control && control->widget() && (control->widget()->focusPolicy() & Qt::TabFocus))
            chain.push_back(control);
    }
    std::stable_sort(chain.begin(), chain.end(), [](const TControl* A, const TControl* B) {
        auto rank = [](const TControl* C) { return C->TabOrder() < 0 ? std::numeric_limits<int>::max() : C->TabOrder(); };
        return rank(A) < rank(B);
    });
    for (std::size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1]->widget(), chain[i]->widget());
}

}  // namespace

void LoadWindowDefinition(TForm& Form, const WindowDefinition& Definition, const PublishedClass& Published)
{
    Form.SetName(Definition.Name);
    for (const PropertyRow& p : Definition.Properties)
        applyFormProperty(Form, Definition.Name, p);

    std::map<std::string, TComponent*> byName;
    for (const ComponentRow& row : Definition.Components) {
        const std::string where = row.Name + " (" + row.ClassName + ")";
        if (byName.count(row.Name))
            fail(where, "defined twice");
        TComponent* c = create(row.ClassName, &Form);
        if (!c)
            fail(where, "unknown class");
        c->SetName(row.Name);
        byName[row.Name] = c;
        if (auto* control = dynamic_cast<TControl*>(c)) {
            TFmxObject* parent = &Form;
            if (!row.Parent.empty()) {
                auto it = byName.find(row.Parent);
                parent = it == byName.end() ? nullptr : dynamic_cast<TFmxObject*>(it->second);
                if (!parent)
                    fail(where, "unknown parent " + row.Parent);
            }
            control->SetParent(parent);
        } else if (!row.Parent.empty()) {
            fail(where, "a non-visual component has no parent");
        }
        for (const PropertyRow& p : row.Properties)
            applyProperty(c, where + " " + p.Name, p);
    }

    if (!Definition.ImageBook.empty()) {
        auto* book = byName.count(Definition.ImageBook) ? dynamic_cast<TStyleBook*>(byName[Definition.ImageBook])
                                                        : nullptr;
        if (!book)
            fail(Definition.ImageBook, "no image book of that name");
        for (const ImageRow& image : Definition.Images)
            if (!book->LoadImage(image.Key, image.Resource))
                fail(Definition.ImageBook, "cannot load image " + image.Key + " from " + image.Resource);
    }

    for (const std::string& field : Definition.PublishedFields) {
        auto binder = std::find_if(Published.Fields.begin(), Published.Fields.end(),
                                   [&](const auto& f) { return f.first == field; });
        if (binder == Published.Fields.end())
            fail(field, "no published field of that name");
        auto it = byName.find(field);
        if (it == byName.end())
            fail(field, "no component of that name");
        if (!binder->second(it->second))
            fail(field, "the component's class does not fit the field");
    }

    for (const EventRow& e : Definition.Events) {
        const std::string where = (e.Component.empty() ? Definition.Name : e.Component) + "." + e.Event;
        auto method = std::find_if(Published.Methods.begin(), Published.Methods.end(),
                                   [&](const auto& m) { return m.first == e.Handler; });
        if (method == Published.Methods.end())
            fail(where, "no published method " + e.Handler);
        if (e.Component.empty()) {
            wire(nullptr, &Form, e, method->second, where);
        } else {
            auto it = byName.find(e.Component);
            if (it == byName.end())
                fail(where, "no component of that name");
            wire(it->second, nullptr, e, method->second, where);
        }
    }
    arrangeTabOrder(Form);
}
