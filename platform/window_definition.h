#pragma once

// A window described as data: every component in stacking order with its
// properties, every event wiring, the published fields, and the images of an
// image book. The loader creates the components, binds the fields and
// assigns the handlers; the window calls it before its constructor body runs.

#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/types.h"

class TComponent;
class TForm;

struct PropertyRow {
    std::string Name;   // "Position.X", "Size.Width", "Align", ...
    std::string Value;  // as written in the definition
};

struct ComponentRow {
    std::string Name;
    std::string ClassName;
    std::string Parent;  // "" for the window itself
    std::vector<PropertyRow> Properties;
};

struct EventRow {
    std::string Component;  // "" for the window itself
    std::string Event;      // "OnClick", "OnMouseDown", ...
    std::string Handler;    // a published method of the window
};

struct ImageRow {
    std::string Key;       // the style name the program looks it up by
    std::string Resource;  // compiled-in PNG
};

struct WindowDefinition {
    std::string ClassName;
    std::string Name;
    std::vector<PropertyRow> Properties;   // of the window
    std::vector<ComponentRow> Components;  // definition (stacking) order
    std::vector<EventRow> Events;
    std::vector<std::string> PublishedFields;  // in declaration order
    std::string ImageBook;                     // the component holding Images
    std::vector<ImageRow> Images;
};

// A handler bound to its window object, of one of the event kinds.
using PublishedHandler = std::variant<TNotifyEvent, TMouseEvent, TMouseMoveEvent, TKeyEvent, TCloseQueryEvent,
                                      TSampleBufferReadyEvent>;

// What a window class publishes by name: its component fields (each binder
// stores the component and answers false when its class does not fit) and
// its handler methods.
struct PublishedClass {
    std::vector<std::pair<std::string, std::function<bool(TComponent*)>>> Fields;
    std::vector<std::pair<std::string, PublishedHandler>> Methods;
};

// Loads Definition into Form. Throws std::runtime_error naming the row when
// the definition does not fit (unknown class, property, parent, field, event
// or handler, or a handler of the wrong kind for its event).
void LoadWindowDefinition(TForm& Form, const WindowDefinition& Definition, const PublishedClass& Published);
