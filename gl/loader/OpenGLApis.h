// OpenGLApis: the GL entry points of the system, resolved by libepoxy on first use for the
// context that is current. Depends on libepoxy only; nothing is resolved by hand.
#pragma once

#include <epoxy/gl.h>  // IWYU pragma: export
