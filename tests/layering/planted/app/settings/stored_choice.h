// A settings header that reaches up into the shell: the layer check must refuse it.
#pragma once

#include "preview_pane.h"
