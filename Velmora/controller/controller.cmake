# SPDX-License-Identifier: GPL-3.0-or-later
# The controller (Qt Core only) and its texts, part of VelmoraLib. Included from Velmora/.
file(GLOB controller_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp ${CMAKE_CURRENT_LIST_DIR}/*.h)
target_sources(VelmoraLib PRIVATE ${controller_sources})

# Id-based texts, compiled to .qm and embedded as :/velmora/controller/i18n/controller_<lang>.qm.
set(controller_ts ${CMAKE_CURRENT_LIST_DIR}/../i18n/controller_de.ts ${CMAKE_CURRENT_LIST_DIR}/../i18n/controller_en.ts)
set_source_files_properties(${controller_ts} PROPERTIES OUTPUT_LOCATION "${CMAKE_CURRENT_BINARY_DIR}/controller_i18n")
qt_add_lrelease(VelmoraLib TS_FILES ${controller_ts} QM_FILES_OUTPUT_VARIABLE controller_qm OPTIONS -idbased)
qt_add_resources(VelmoraLib controller_translations PREFIX /velmora/controller/i18n
                 BASE "${CMAKE_CURRENT_BINARY_DIR}/controller_i18n" FILES ${controller_qm})
