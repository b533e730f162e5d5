# SPDX-License-Identifier: GPL-3.0-or-later
# The controller (Qt Core only), part of VelmoraLib; its texts are Velmora/i18n/controller_*.ts.
# Included from Velmora/.
file(GLOB controller_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp ${CMAKE_CURRENT_LIST_DIR}/*.h)
target_sources(VelmoraLib PRIVATE ${controller_sources})
