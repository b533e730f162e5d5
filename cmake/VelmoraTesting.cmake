# SPDX-License-Identifier: GPL-3.0-or-later
# velmora_add_unit_tests(DIR <dir> LIBS <libs...> LABELS <labels...>)
# Every <dir>/*_test.cpp becomes one test program (one per unit), linked with gmock_main
# and registered with CTest under its file name.
function(velmora_add_unit_tests)
  cmake_parse_arguments(ARG "" "DIR" "LIBS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${ARG_DIR}/*_test.cpp")
  foreach(src IN LISTS sources)
    get_filename_component(name "${src}" NAME_WE)
    add_executable(${name} "${src}")
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock_main Threads::Threads)
    target_compile_definitions(${name} PRIVATE VELMORA_TEST_DATA_DIR="${ARG_DIR}/data")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
  endforeach()
endfunction()
