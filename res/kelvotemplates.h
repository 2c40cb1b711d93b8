#pragma once

#include "dialogtemplate.h"

// IDs of the module's dialog templates.
inline constexpr int kAboutTemplate = 3000;
inline constexpr int kServerBookTemplate = 3001;
inline constexpr int kNewEntryTemplate = 3002;

// Control IDs the dialogs address (IDs 1 and 2 are OK and Cancel).
namespace ServerBookControl {
inline constexpr int EntryList = 3000;
inline constexpr int Delete = 3001;
inline constexpr int New = 3002;
inline constexpr int Server = 3003;
inline constexpr int StartDir = 3004;
inline constexpr int PluginFile = 3005;
}
namespace NewEntryControl {
inline constexpr int StartPath = 1001;
inline constexpr int Worker = 1013;
inline constexpr int Address = 3003;
inline constexpr int Label = 3004;
}

// The About box, the server book selection and the new entry dialog.
std::span<const DialogTemplate> KelvoTemplates();
