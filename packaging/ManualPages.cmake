# SPDX-License-Identifier: GPL-3.0-or-later
# The manual pages of the four programs, made at build time by help2man from each program's own
# --help and --version, so that a page never tells other than the program it describes. They are
# compressed as Debian installs manual pages, and dated by the newest changelog entry, so the same
# sources always make the same pages.
include(GNUInstallDirs)

find_program(ZORVIK_HELP2MAN help2man)
if(NOT ZORVIK_HELP2MAN)
    message(FATAL_ERROR "help2man is missing: it makes the manual pages (scripts/bootstrap "
                        "installs it; on Debian: apt install help2man)")
endif()

file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog zorvik_changelog_sign_off REGEX "^ -- ")
list(GET zorvik_changelog_sign_off 0 zorvik_changelog_sign_off)
string(REGEX REPLACE "^.*>  " "" zorvik_changelog_date "${zorvik_changelog_sign_off}")
execute_process(COMMAND date -d "${zorvik_changelog_date}" +%s
    OUTPUT_VARIABLE zorvik_source_date OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE zorvik_date_result)
if(NOT zorvik_date_result EQUAL 0)
    message(FATAL_ERROR "the date of packaging/changelog's first entry is unreadable: "
                        "${zorvik_changelog_date}")
endif()

set(zorvik_manual_pages)
function(zorvik_manual_page program name)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
    # The sanitizer builds run the program too: a leak report at its exit is no fault of its help.
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen
            ASAN_OPTIONS=detect_leaks=0 SOURCE_DATE_EPOCH=${zorvik_source_date}
            ${ZORVIK_HELP2MAN} --no-info --section=1 --name=${name}
            --output=${page} $<TARGET_FILE:${program}>
        COMMAND gzip -9 -n -f ${page}
        DEPENDS ${program}
        COMMENT "Writing the manual page of ${program}"
        VERBATIM)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    set(zorvik_manual_pages ${zorvik_manual_pages} ${page}.gz PARENT_SCOPE)
endfunction()

zorvik_manual_page(ZorvikMac "one-time sign-in codes from your phone on the desktop")
zorvik_manual_page(ZorvikMacAutoFill "fill one-time codes from your phone into web pages")
zorvik_manual_page(zorvik-phone "play the companion phone: hold the sync key, seal codes")
zorvik_manual_page(zorvik-latest "look at and write the shared latest-code file")
add_custom_target(zorvik-manual-pages ALL DEPENDS ${zorvik_manual_pages})
