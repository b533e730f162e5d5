# SPDX-License-Identifier: GPL-3.0-or-later
# `cpack -G DEB` in the build folder makes velmora_<version>_amd64.deb from the install rules.
# Library dependencies come from dpkg-shlibdeps; what it cannot see (QML modules loaded at run
# time, the sound server the program talks to, the Wayland platform plugin) is listed here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT "The Velmora developers <velmora@velmora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Retunes everything the computer plays in real time")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora routes the sound of every application through its own chain on PipeWire and shifts its
pitch, for example from A4 = 440 Hz to 432 Hz. A tray program (velmora) and a terminal tool
(velmora-cli).")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://velmora.org")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Installed below /usr with DESTDIR, so the menu entry names /usr/bin/velmora.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "pipewire, wireplumber, qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-templates, qml6-module-qtquick-layouts, qml6-module-qtquick-window, qml6-module-qtqml-workerscript, libqt6svg6, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
include(CPack)
