# What `cmake --install` puts on the system and how scripts/package turns it into a .deb.
# Included by the top-level CMakeLists.txt before the programs' folders, which add their
# own binaries, man pages and desktop files with the helpers below.

include(GNUInstallDirs)

# Debian's name for the folder, whatever the project's name is spelt as.
set(ORVANTA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/orvanta)
# Who the package and its changelog name as its maintainer.
set(ORVANTA_MAINTAINER "Orvanta developers <orvanta-dev@lists.orvanta.org>")

# The version (project()) and the release date, as the man pages and the metadata show
# them. The date comes from ORVANTA_RELEASE_DATE (YYYY-MM-DD), set beside project().
string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _date "${ORVANTA_RELEASE_DATE}")
if(NOT _date)
  message(FATAL_ERROR "ORVANTA_RELEASE_DATE must be YYYY-MM-DD, not \"${ORVANTA_RELEASE_DATE}\"")
endif()
set(ORVANTA_RELEASE_YEAR ${CMAKE_MATCH_1})
set(_y ${CMAKE_MATCH_1})
set(_m ${CMAKE_MATCH_2})
set(_d ${CMAKE_MATCH_3})
set(_months January February March April May June July August September October November
            December)
math(EXPR _month_index "${_m} - 1")
list(GET _months ${_month_index} _month_name)
set(ORVANTA_MAN_DATE "${_month_name} ${ORVANTA_RELEASE_YEAR}")
# The same date as the package's changelog writes it (RFC 5322), with the weekday from
# Zeller's congruence.
set(_day ${_d})
if(_m LESS 3)
  math(EXPR _m "${_m} + 12")
  math(EXPR _y "${_y} - 1")
endif()
math(EXPR _weekday "(${_d} + (13 * (${_m} + 1)) / 5 + ${_y} + ${_y} / 4 - ${_y} / 100 + ${_y} / 400) % 7")
set(_weekdays Sat Sun Mon Tue Wed Thu Fri)
list(GET _weekdays ${_weekday} _weekday_name)
string(SUBSTRING "${_month_name}" 0 3 _month_short)
set(ORVANTA_CHANGELOG_DATE
    "${_weekday_name}, ${_day} ${_month_short} ${ORVANTA_RELEASE_YEAR} 00:00:00 +0000")

find_program(GZIP_PROGRAM gzip REQUIRED)

# gzip -9n, as Debian installs documentation: no name or time stamp in the header, so the
# same input always gives the same bytes.
function(orvanta_gzip target input output)
  add_custom_command(OUTPUT ${output} COMMAND ${GZIP_PROGRAM} -9n -c ${input} > ${output}
                     DEPENDS ${input} VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()

# res/<page>.in with the version and the date filled in, compressed, into man1.
function(orvanta_install_man page)
  set(_page ${PROJECT_BINARY_DIR}/man/${page})
  configure_file(${PROJECT_SOURCE_DIR}/res/${page}.in ${_page} @ONLY)
  orvanta_gzip(${page}_man ${_page} ${_page}.gz)
  install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# The notes every installation carries: what the program is, its licence and its history.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/res/copyright
        DESTINATION ${ORVANTA_DOC_DIR})
configure_file(${PROJECT_SOURCE_DIR}/res/changelog.in ${PROJECT_BINARY_DIR}/doc/changelog @ONLY)
orvanta_gzip(orvanta_changelog ${PROJECT_BINARY_DIR}/doc/changelog
             ${PROJECT_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz DESTINATION ${ORVANTA_DOC_DIR})

# The Debian package (scripts/package). Its dependencies come from dpkg-shlibdeps on the
# installed binaries, so they follow whatever the programs link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvanta)
set(CPACK_PACKAGE_VENDOR "Orvanta developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ORVANTA_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVANTA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "inspector for FIDO security keys
Orvanta shows what a FIDO security key attached over USB tells about itself:
its HID identity, the versions of its applets and every member of its CTAP2
authenticatorGetInfo reply. A test registration over CTAP2 and one over U2F
show the key's attestation certificates field by field, with a check of the
attestation signature.
.
The package holds the Qt window (orvanta) and the command line (orvanta-cli),
which prints the same pages as text or JSON and decodes saved replies and
certificates offline. Both can show a built-in virtual key.
.
Opening a key needs access to its /dev/hidraw device, which udev's own rules
give to the user at the seat.")
# Directories and files with Debian's usual modes, whatever the umask of the build.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
