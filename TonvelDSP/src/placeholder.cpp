// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder until the first unit lands; delete it then.
