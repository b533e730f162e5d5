// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The identity moved into the library (identity/), so that no layer reaches up into app/.
#include "identity/AppIdentity.h"
