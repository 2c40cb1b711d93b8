#include "kelvotemplates.h"

namespace {

using namespace ControlStyle;
constexpr auto Static = ControlKind::Static;
constexpr auto GroupBox = ControlKind::GroupBox;
constexpr auto Button = ControlKind::PushButton;
constexpr auto Edit = ControlKind::Edit;
constexpr auto ListBox = ControlKind::ListBox;
constexpr auto ComboBox = ControlKind::ComboBox;
constexpr unsigned kDialogStyle =
    DialogStyle::Popup | DialogStyle::Caption | DialogStyle::SystemMenu | DialogStyle::ModalFrame;
constexpr const char *kFont = "MS Sans Serif";

constexpr ControlTemplate kAbout[] = {
    {1, Button, 64, 101, 50, 14, TabStop | DefaultButton, "OK"},
    {kNoControlId, Static, 7, 7, 165, 82, LeftAligned | Group,
     "Dieses Plugin ist ein Bestandteil von Ostrel und dient zur Verwaltung eines Serverbooks."
     "\n\n\nProgrammiert von:\nVesperin\n\nPlugin-Type: Serverbook-Extension\n\nPlugin-Version: 1.0"},
};

constexpr unsigned kDetailField = TabStop | ReadOnly | Centered | AutoHScroll | Border;
constexpr ControlTemplate kServerBook[] = {
    {kNoControlId, GroupBox, 7, 7, 281, 97, 0, "Bezeichnung"},
    {ServerBookControl::EntryList, ListBox, 19, 22, 257, 60,
     TabStop | Sorted | NotifySelection | Border | VScroll | HScroll | NoIntegralHeight, ""},
    {ServerBookControl::Delete, Button, 19, 85, 50, 14, TabStop, "Löschen"},
    {ServerBookControl::New, Button, 77, 85, 50, 14, TabStop, "Neu ..."},
    {kNoControlId, GroupBox, 7, 111, 281, 70, 0, "Eigenschaften"},
    {kNoControlId, Static, 17, 129, 24, 8, LeftAligned, "Server:"},
    {ServerBookControl::Server, Edit, 86, 127, 190, 14, kDetailField, ""},
    {kNoControlId, Static, 17, 145, 53, 8, LeftAligned, "Startverzeichnis:"},
    {ServerBookControl::StartDir, Edit, 86, 143, 190, 14, kDetailField, ""},
    {kNoControlId, Static, 17, 162, 55, 8, LeftAligned, "Plugindateiname:"},
    {ServerBookControl::PluginFile, Edit, 86, 159, 190, 14, kDetailField, ""},
    {1, Button, 238, 191, 50, 14, TabStop | DefaultButton, "OK"},
    {2, Button, 180, 191, 50, 14, TabStop, "Abbrechen"},
};

constexpr unsigned kInputField = TabStop | AutoHScroll | Border;
constexpr ControlTemplate kNewEntry[] = {
    {kNoControlId, Static, 7, 7, 256, 8, LeftAligned, "Adressbezeichnung:"},
    {NewEntryControl::Label, Edit, 7, 18, 256, 12, kInputField, ""},
    {kNoControlId, Static, 7, 36, 256, 8, LeftAligned, "Nutze Publishing-Worker zur Publizierung:"},
    {NewEntryControl::Worker, ComboBox, 7, 47, 256, 94, TabStop | DropDownList | Sorted | VScroll, ""},
    {kNoControlId, Static, 7, 76, 256, 8, LeftAligned, "Adresse (inkl. Protokoll / Serveradresse):"},
    {NewEntryControl::Address, Edit, 7, 87, 256, 12, kInputField, ""},
    {kNoControlId, Static, 7, 103, 256, 8, LeftAligned, "Startpfad auf Server:"},
    {NewEntryControl::StartPath, Edit, 7, 116, 256, 12, kInputField, ""},
    {1, Button, 213, 148, 50, 14, TabStop | DefaultButton, "OK"},
    {2, Button, 153, 148, 50, 14, TabStop, "Abbrechen"},
};

constexpr DialogTemplate kTemplates[] = {
    {kAboutTemplate, "About", 179, 122, kFont, 8, kDialogStyle, kAbout},
    {kServerBookTemplate, "Serverbook-Auswahl", 295, 212, kFont, 8, kDialogStyle, kServerBook},
    {kNewEntryTemplate, "Neuen Eintrag zu Serverbook hinzufügen", 270, 169, kFont, 8, kDialogStyle, kNewEntry},
};

} // namespace

std::span<const DialogTemplate> KelvoTemplates()
{
    return kTemplates;
}
