# SPDX-License-Identifier: GPL-3.0-or-later
# velmora_add_translations(<target> <table> <ts files...>)
# Compiles hand-written id-based tables <name>_<language>.ts to .qm and embeds them in <target> as
# :/i18n/<name>_<language>.qm, where Translations::install() finds every program's tables.
# Once per target (lrelease makes one target_lrelease): pass all of its tables; <table> names
# the build folder and the resource.
# (qt_add_translations would regenerate the tables with lupdate and can empty them.)
function(velmora_add_translations target table)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${table}_i18n")
  set_source_files_properties(${ARGN} PROPERTIES OUTPUT_LOCATION "${out}")
  qt_add_lrelease(${target} TS_FILES ${ARGN} QM_FILES_OUTPUT_VARIABLE qm_files OPTIONS -idbased)
  qt_add_resources(${target} ${table}_translations PREFIX /i18n BASE "${out}" FILES ${qm_files})
endfunction()
