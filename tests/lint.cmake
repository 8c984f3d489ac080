# Checks of what ships besides the program: the shell scripts (shellcheck),
# the man page (groff, and mandoc where installed) and the tree that
# `cmake --install` lays out. Included from tests/e2e/CMakeLists.txt to
# register the tests; each test runs this same file in script mode with
# NIMBRA_LINT naming the check. A missing tool makes its test a skip.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(nimbra_lint_run ${CMAKE_COMMAND} -DNIMBRA_SOURCE_DIR=${PROJECT_SOURCE_DIR})
  add_test(NAME lint.shellcheck
           COMMAND ${nimbra_lint_run} -DNIMBRA_LINT=shellcheck -P ${CMAKE_CURRENT_LIST_FILE})
  add_test(NAME lint.manpage
           COMMAND ${nimbra_lint_run} -DNIMBRA_LINT=manpage -P ${CMAKE_CURRENT_LIST_FILE})
  add_test(NAME install.layout
           COMMAND ${nimbra_lint_run} -DNIMBRA_LINT=install_layout
                   -DNIMBRA_BUILD_DIR=${PROJECT_BINARY_DIR}
                   -DNIMBRA_PREFIX=${CMAKE_CURRENT_BINARY_DIR}/install-layout
                   -DNIMBRA_SBINDIR=${CMAKE_INSTALL_SBINDIR}
                   -DNIMBRA_LIBDIR=lib
                   -DNIMBRA_INCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
                   -DNIMBRA_MANDIR=${CMAKE_INSTALL_MANDIR}
                   -P ${CMAKE_CURRENT_LIST_FILE})
  set_tests_properties(lint.shellcheck lint.manpage install.layout PROPERTIES
    LABELS lint
    SKIP_REGULAR_EXPRESSION "lint: skipped:"
    TIMEOUT 120)
  return()
endif()

function(skip reason)
  message("lint: skipped: ${reason}")
endfunction()

# A script is a file that starts with a #! line naming a shell, or that
# tells shellcheck its shell (files that are only sourced).
function(is_shell_script path result)
  file(READ ${path} head LIMIT 512)
  string(REGEX MATCH "^#![^\n]*(/|env +)(ba|da|k|a)?sh( |\n|$)" shebang "${head}")
  if(shebang)
    set(${result} TRUE PARENT_SCOPE)
    return()
  endif()
  file(STRINGS ${path} directive REGEX "^# shellcheck shell=" LIMIT_COUNT 1)
  if(directive)
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

function(lint_shellcheck)
  find_program(shellcheck shellcheck)
  if(NOT shellcheck)
    skip("shellcheck is not installed")
    return()
  endif()
  # Every script that we ship, run in the sandbox or run in CI.
  set(scripts .ci/run tests/run.sh)
  file(GLOB named RELATIVE ${NIMBRA_SOURCE_DIR}
       ${NIMBRA_SOURCE_DIR}/tests/e2e/*.sh ${NIMBRA_SOURCE_DIR}/bench/*.sh)
  list(APPEND scripts ${named})
  file(GLOB_RECURSE candidates RELATIVE ${NIMBRA_SOURCE_DIR}
       ${NIMBRA_SOURCE_DIR}/packaging/openwrt/* ${NIMBRA_SOURCE_DIR}/sandbox/*)
  foreach(candidate IN LISTS candidates)
    is_shell_script(${NIMBRA_SOURCE_DIR}/${candidate} shell)
    if(shell)
      list(APPEND scripts ${candidate})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES scripts)
  list(SORT scripts)
  list(LENGTH scripts count)
  message("shellcheck: ${count} scripts")
  execute_process(COMMAND ${shellcheck} --external-sources ${scripts}
                  WORKING_DIRECTORY ${NIMBRA_SOURCE_DIR}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "shellcheck found problems (status ${status})")
  endif()
endfunction()

function(lint_manpage)
  set(page ${NIMBRA_SOURCE_DIR}/docs/nimbractl.8)
  find_program(groff groff)
  if(NOT groff)
    skip("groff is not installed")
    return()
  endif()
  # -ww: every warning; the page must format without one.
  execute_process(COMMAND ${groff} -man -Tutf8 -ww -z ${page}
                  RESULT_VARIABLE status ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR warnings)
    message(FATAL_ERROR "groff: status ${status}\n${warnings}")
  endif()
  find_program(mandoc mandoc)
  if(mandoc)
    execute_process(COMMAND ${mandoc} -Tlint -W warning ${page}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE warnings)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "mandoc -Tlint: status ${status}\n${output}${warnings}")
    endif()
  endif()
endfunction()

function(lint_install_layout)
  file(REMOVE_RECURSE ${NIMBRA_PREFIX})
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${NIMBRA_BUILD_DIR} --prefix ${NIMBRA_PREFIX}
                  RESULT_VARIABLE status OUTPUT_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed with status ${status}")
  endif()

  # What a firmware image needs, and nothing else.
  set(expected
      ${NIMBRA_INCLUDEDIR}/nimbra/nimbra_vendor.h
      ${NIMBRA_LIBDIR}/libvendor.so
      ${NIMBRA_MANDIR}/man8/nimbractl.8
      ${NIMBRA_SBINDIR}/nimbra-repair
      ${NIMBRA_SBINDIR}/nimbractl)
  file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${NIMBRA_PREFIX} ${NIMBRA_PREFIX}/*)
  list(SORT expected)
  list(SORT installed)
  if(NOT installed STREQUAL expected)
    string(REPLACE ";" "\n  " expected_lines "${expected}")
    string(REPLACE ";" "\n  " installed_lines "${installed}")
    message(FATAL_ERROR "installed:\n  ${installed_lines}\nexpected:\n  ${expected_lines}")
  endif()

  # The installed program finds the installed library beside it: without a
  # configuration it gets as far as the environment export and fails there,
  # instead of the loader refusing to start it.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH
                          NIMBRA_CONFIG=${NIMBRA_PREFIX}/no-such.ini
                          ${NIMBRA_PREFIX}/${NIMBRA_SBINDIR}/nimbractl help
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
  if(NOT status EQUAL 1 OR NOT errors MATCHES "Error while setting Nimbra environment variables")
    message(FATAL_ERROR "installed nimbractl: status ${status}\n${errors}")
  endif()
  file(REMOVE_RECURSE ${NIMBRA_PREFIX})
endfunction()

if(NIMBRA_LINT STREQUAL "shellcheck")
  lint_shellcheck()
elseif(NIMBRA_LINT STREQUAL "manpage")
  lint_manpage()
elseif(NIMBRA_LINT STREQUAL "install_layout")
  lint_install_layout()
else()
  message(FATAL_ERROR "unknown check '${NIMBRA_LINT}'")
endif()
