# SPDX-License-Identifier: GPL-3.0-or-later
# The session-bus interface of the process that holds the chain (Qt DBus), part of VelmoraLib;
# its texts are Velmora/i18n/dbus_*.ts. Included from Velmora/.
include(GNUInstallDirs)
file(GLOB dbus_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp ${CMAKE_CURRENT_LIST_DIR}/*.h)
target_sources(VelmoraLib PRIVATE ${dbus_sources})
target_link_libraries(VelmoraLib PUBLIC Qt6::DBus)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/org.velmora.Velmora1.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/interfaces)
qt_add_resources(VelmoraLib velmora_dbus PREFIX /velmora FILES dbus/org.velmora.Velmora1.xml)
