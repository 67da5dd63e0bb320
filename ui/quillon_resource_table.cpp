#include "ui/quillon_resource_table.h"

#include "platform/dialog_entries.h"
#include "ui/quillon_resources.h"

namespace quillon::ui {
namespace {

using platform::ControlTemplate;
using platform::DialogTemplate;
using platform::StringResource;

constexpr ControlTemplate kControls[] = {QUILLON_CONTROLS(QUILLON_CONTROL_ENTRY)};
constexpr StringResource kStrings[] = {QUILLON_STRINGS(QUILLON_STRING_ENTRY)};
constexpr DialogTemplate kDialogs[] = {
    {QUILLON_DIALOG, L"" QUILLON_DIALOG_TITLE, L"", QUILLON_DIALOG_WIDTH, QUILLON_DIALOG_HEIGHT,
     L"" QUILLON_DIALOG_FONT, QUILLON_DIALOG_FONT_POINTS, kControls},
};
const platform::DialogResources kResources{kDialogs, kStrings, QUILLON_ICON};

}  // namespace

const platform::DialogResources& QuillonResources() { return kResources; }

}  // namespace quillon::ui
