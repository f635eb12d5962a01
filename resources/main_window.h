#pragma once

#include "platform/window_definition.h"

// The main window's definition: components, properties, event wiring,
// published fields and the image book.
const WindowDefinition& mainWindowDefinition();
