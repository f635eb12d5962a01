#pragma once

// Basic value types and event signatures shared by the whole program. The
// window logic sees only these names; the Qt types stay behind platform/.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// 0xAARRGGBB. In memory (little endian) the bytes are B, G, R, A from the
// lowest address up, exactly the layout of a Format_RGB32 pixel.
using TAlphaColor = std::uint32_t;

namespace TAlphaColors {
inline constexpr TAlphaColor Null = 0x00000000;   // fully transparent
inline constexpr TAlphaColor Black = 0xFF000000;  // opaque black
}  // namespace TAlphaColors

struct TPointF {
    float X = 0.0f;
    float Y = 0.0f;
    friend bool operator==(const TPointF&, const TPointF&) = default;
};

struct TRectF {
    float Left = 0.0f;
    float Top = 0.0f;
    float Right = 0.0f;
    float Bottom = 0.0f;
    float Width() const { return Right - Left; }
    float Height() const { return Bottom - Top; }
    friend bool operator==(const TRectF&, const TRectF&) = default;
};

class TObject {
public:
    virtual ~TObject() = default;
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// Bit set of modifier keys and buttons held during an input event.
using TShiftState = std::uint32_t;
namespace TShift {
inline constexpr TShiftState Shift = 1u << 0;
inline constexpr TShiftState Alt = 1u << 1;
inline constexpr TShiftState Ctrl = 1u << 2;
inline constexpr TShiftState Left = 1u << 3;
inline constexpr TShiftState Right = 1u << 4;
inline constexpr TShiftState Middle = 1u << 5;
}  // namespace TShift

// Virtual key codes used by the program.
inline constexpr std::uint16_t vkEscape = 27;

// Cursor values.
using TCursor = int;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crHandPoint = -21;

// Event handler slots. They are plain assignable values: a handler is
// detached by assigning nullptr and attached again by assigning it.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TMouseEvent =
    std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, float X, float Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, float X, float Y)>;
using TKeyEvent =
    std::function<void(TObject* Sender, std::uint16_t& Key, char16_t& KeyChar, TShiftState Shift)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;
using TSampleBufferReadyEvent = std::function<void(TObject* Sender, std::int64_t ATime)>;

// An ordered list of strings (clear, add, index), with a change hook that
// controls showing the list (a memo's lines) use to refresh themselves.
class TStringList {
public:
    void Clear();
    void Add(const std::string& S);
    int Count() const { return static_cast<int>(m_items.size()); }
    const std::string& operator[](int Index) const { return m_items.at(static_cast<std::size_t>(Index)); }
    const std::vector<std::string>& items() const { return m_items; }

    std::function<void()> OnChange;

private:
    std::vector<std::string> m_items;
};

std::string IntToStr(int Value);
