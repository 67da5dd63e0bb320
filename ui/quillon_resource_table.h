// Quillon's resources as the front ends take them.
#pragma once

#include "platform/dialog_template.h"

namespace quillon::ui {

const platform::DialogResources& QuillonResources();

}  // namespace quillon::ui
