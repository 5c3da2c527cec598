// The layer-shell protocol's client header, whose get_layer_surface has an
// argument named `namespace`: renamed while C++ reads it.
#pragma once

#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
