# SPDX-License-Identifier: GPL-3.0-or-later
# velmora_add_unit_tests(DIR <dir> LIBS <libs...> LABELS <labels...> [TSAN <test names...>])
# Every <dir>/*_test.cpp becomes one test program (one per unit), linked with gmock_main
# and registered with CTest under its file name. Tests named under TSAN (threads of their own
# beyond the DSP's) also carry the label "tsan"; those and the "dsp" tests make up tsan_scope.
# Every unit test is part of asan_scope.
function(velmora_add_unit_tests)
  cmake_parse_arguments(ARG "" "DIR" "LIBS;LABELS;TSAN" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${ARG_DIR}/*_test.cpp")
  foreach(src IN LISTS sources)
    get_filename_component(name "${src}" NAME_WE)
    add_executable(${name} "${src}")
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock_main Threads::Threads)
    target_compile_definitions(${name} PRIVATE VELMORA_TEST_DATA_DIR="${ARG_DIR}/data")
    add_test(NAME ${name} COMMAND ${name})
    set(labels ${ARG_LABELS})
    if(name IN_LIST ARG_TSAN)
      list(APPEND labels tsan)
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT 600)
    add_dependencies(asan_scope ${name})
    if("dsp" IN_LIST labels OR "tsan" IN_LIST labels)
      add_dependencies(tsan_scope ${name})
    endif()
  endforeach()
endfunction()
