#include "viewer/corvin_resource_table.h"

#include "platform/dialog_entries.h"
#include "viewer/corvin_resources.h"

namespace quillon::viewer {
namespace {

using platform::ControlTemplate;
using platform::DialogTemplate;
using platform::StringResource;

constexpr ControlTemplate kControls[] = {CORVIN_CONTROLS(QUILLON_CONTROL_ENTRY)};
constexpr StringResource kStrings[] = {CORVIN_STRINGS(QUILLON_STRING_ENTRY)};
constexpr DialogTemplate kDialogs[] = {
    {CORVIN_DIALOG, L"" CORVIN_DIALOG_TITLE, L"" CORVIN_DIALOG_CLASS, CORVIN_DIALOG_WIDTH, CORVIN_DIALOG_HEIGHT,
     L"" CORVIN_DIALOG_FONT, CORVIN_DIALOG_FONT_POINTS, kControls},
};
const platform::DialogResources kResources{kDialogs, kStrings, CORVIN_ICON};

}  // namespace

const platform::DialogResources& CorvinResources() { return kResources; }

}  // namespace quillon::viewer
