#pragma once

// A dialog described as data: its size in dialog units, caption and font, and
// every control with its ID, position, style and text. The windowing layer
// builds real widgets from it.

#include <span>

enum class ControlKind { Static, GroupBox, PushButton, Edit, ListBox, ComboBox };

// Control styles, combined as bit flags.
namespace ControlStyle {
inline constexpr unsigned TabStop = 1u << 0;
inline constexpr unsigned Group = 1u << 1;
inline constexpr unsigned DefaultButton = 1u << 2;
inline constexpr unsigned ReadOnly = 1u << 3;
inline constexpr unsigned Centered = 1u << 4;
inline constexpr unsigned AutoHScroll = 1u << 5;
inline constexpr unsigned Border = 1u << 6;
inline constexpr unsigned Sorted = 1u << 7;
inline constexpr unsigned NotifySelection = 1u << 8;
inline constexpr unsigned VScroll = 1u << 9;
inline constexpr unsigned HScroll = 1u << 10;
inline constexpr unsigned NoIntegralHeight = 1u << 11;
inline constexpr unsigned LeftAligned = 1u << 12;
inline constexpr unsigned DropDownList = 1u << 13;
}

// Dialog styles.
namespace DialogStyle {
inline constexpr unsigned Popup = 1u << 0;
inline constexpr unsigned Caption = 1u << 1;
inline constexpr unsigned SystemMenu = 1u << 2;
inline constexpr unsigned ModalFrame = 1u << 3;
}

// The ID of controls that nobody addresses (labels, group boxes).
inline constexpr int kNoControlId = -1;

struct ControlTemplate {
    int id;
    ControlKind kind;
    int x, y, width, height;  // dialog units
    unsigned style;
    const char *text;         // UTF-8; "\n" breaks a line
};

struct DialogTemplate {
    int id;
    const char *caption;  // UTF-8
    int width, height;    // dialog units
    // The font the template was drawn in. The dialogs are built in the
    // desktop's font instead; the template's units follow that.
    const char *fontFamily;
    int pointSize;
    unsigned style;
    std::span<const ControlTemplate> controls;  // in tab order
};
