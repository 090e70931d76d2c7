# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr
# (scripts/package does it all). Its contents are the project's own install rules plus the
# copyright and changelog that Debian expects of every package; its Depends line is computed
# from the installed binaries by dpkg-shlibdeps, so it follows whatever the build links.
include(GNUInstallDirs)

set(ZORVIK_DEBIAN_REVISION 1)
set(zorvik_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/zorvik)

# A new version needs its own changelog entry: the package's changelog must name the version
# the package carries.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/changelog zorvik_changelog_top LIMIT_COUNT 1)
set(zorvik_package_version ${PROJECT_VERSION}-${ZORVIK_DEBIAN_REVISION})
if(NOT zorvik_changelog_top MATCHES "^zorvik \\(${zorvik_package_version}\\) ")
    message(FATAL_ERROR "packaging/changelog must start with an entry for zorvik "
                        "(${zorvik_package_version}); it starts: ${zorvik_changelog_top}")
endif()

# Debian wants the changelog compressed at the highest level and without the name and time
# gzip would otherwise store, so the same changelog always makes the same bytes.
set(zorvik_changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian.gz)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9 -n -c ${CMAKE_CURRENT_LIST_DIR}/changelog
    OUTPUT_FILE ${zorvik_changelog_gz} RESULT_VARIABLE zorvik_gzip_result)
if(NOT zorvik_gzip_result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress packaging/changelog")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_LIST_DIR}/changelog)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${zorvik_changelog_gz}
    DESTINATION ${zorvik_doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvik)
set(CPACK_PACKAGE_VENDOR Brontal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zorvik developers <zorvik@brontal.net>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "one-time sign-in codes from your phone on the desktop")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${CMAKE_CURRENT_LIST_DIR}/description.txt)
set(CPACK_STRIP_FILES ON)
# Directories the package creates get the usual 0755, whatever the packager's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_PACKAGE_NAME zorvik)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZORVIK_DEBIAN_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://brontal.net/zorvik)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Our texts are built into the programs; Qt's own (a text field's menu) come with this.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)

include(CPack)
