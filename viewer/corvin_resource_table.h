// The baud-rate viewer's resources as the front ends take them.
#pragma once

#include "platform/dialog_template.h"

namespace quillon::viewer {

const platform::DialogResources& CorvinResources();

}  // namespace quillon::viewer
