# SPDX-License-Identifier: GPL-3.0-or-later
# The controller (Qt Core only) and its texts, part of VelmoraLib. Included from Velmora/.
file(GLOB controller_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp ${CMAKE_CURRENT_LIST_DIR}/*.h)
target_sources(VelmoraLib PRIVATE ${controller_sources})

# The controller's texts (the tables live in Velmora/i18n beside the loader).
velmora_add_translations(VelmoraLib controller ${CMAKE_CURRENT_LIST_DIR}/../i18n/controller_de.ts
                         ${CMAKE_CURRENT_LIST_DIR}/../i18n/controller_en.ts)
