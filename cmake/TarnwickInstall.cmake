# Install rules and the Debian package. Included after every program is defined.
#
# Layout (relative to the prefix, /usr in the package):
#   bin/                             the five programs
#   lib/<multiarch>/tarnwick/        libziplib.so and ZipStub.bin: private, found through the
#                                    programs' $ORIGIN run path and the archiver's own lookup
#   share/doc/tarnwick/              README, architecture, examples (autostart entry)
#   share/man/man1/                  one page per program
#   share/applications, share/icons/hicolor/scalable/apps, share/metainfo
#   lib/systemd/user/                backup and compaction timers

set(TARNWICK_APP_ID org.tarnwick.Tarnwick)
# Placeholders under a reserved name until the project has a public home: set both there.
set(TARNWICK_HOMEPAGE "https://tarnwick.example" CACHE STRING "The project's home page, for the package and AppStream")
set(TARNWICK_SCREENSHOT_URL "${TARNWICK_HOMEPAGE}/docs/screenshots/start-100.png"
    CACHE STRING "Where the README's first screenshot is published, for AppStream")
set(TARNWICK_MAINTAINER "Tarnwick maintainers <maintainers@users.noreply.c-seed-132d2da6.example>"
    CACHE STRING "The Debian package's maintainer")

set(programs tarnwick tarnwick-run tarnwick-jet tarnwick-zip tarnwick-copy)
install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The static program has no run path to rewrite.
if(NOT TARNWICK_SANITIZE)
  set_target_properties(tarnwick-jet PROPERTIES SKIP_BUILD_RPATH ON INSTALL_RPATH "")
endif()
# The zip library and the stub need only system libraries.
set_target_properties(ziplib PROPERTIES INSTALL_RPATH "")
install(TARGETS ziplib LIBRARY DESTINATION ${TARNWICK_INSTALL_PKGLIBDIR} NAMELINK_SKIP)
set_target_properties(tarnwick-zipsfx PROPERTIES INSTALL_RPATH "")
install(TARGETS tarnwick-zipsfx RUNTIME DESTINATION ${TARNWICK_INSTALL_PKGLIBDIR})

set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(gen ${PROJECT_BINARY_DIR}/packaging)

install(FILES README.md DESTINATION ${TARNWICK_INSTALL_DOCDIR})
install(FILES docs/architecture.md DESTINATION ${TARNWICK_INSTALL_DOCDIR}/docs)
install(FILES ${pkg}/copyright DESTINATION ${TARNWICK_INSTALL_DOCDIR})
install(FILES ${pkg}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tarnwick)

# Man pages and the Debian changelog are installed compressed, without time stamps.
set(TARNWICK_DEB_VERSION ${PROJECT_VERSION}-1)
configure_file(${pkg}/changelog.Debian.in ${gen}/changelog.Debian @ONLY)
set(compressed ${gen}/changelog.Debian.gz)
add_custom_command(OUTPUT ${gen}/changelog.Debian.gz
  COMMAND gzip -9nc ${gen}/changelog.Debian > ${gen}/changelog.Debian.gz
  DEPENDS ${gen}/changelog.Debian VERBATIM)
foreach(p ${programs})
  add_custom_command(OUTPUT ${gen}/man/${p}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gen}/man
    COMMAND gzip -9nc ${pkg}/man/${p}.1 > ${gen}/man/${p}.1.gz
    DEPENDS ${pkg}/man/${p}.1 VERBATIM)
  list(APPEND compressed ${gen}/man/${p}.1.gz)
  install(FILES ${gen}/man/${p}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(tarnwick_packaging_files ALL DEPENDS ${compressed})
install(FILES ${gen}/changelog.Debian.gz DESTINATION ${TARNWICK_INSTALL_DOCDIR})

configure_file(${pkg}/tarnwick.desktop.in ${gen}/${TARNWICK_APP_ID}.desktop @ONLY)
configure_file(${pkg}/tarnwick.metainfo.xml.in ${gen}/${TARNWICK_APP_ID}.metainfo.xml @ONLY)
configure_file(${pkg}/tarnwick-autostart.desktop.in ${gen}/tarnwick-autostart.desktop @ONLY)
install(FILES ${gen}/${TARNWICK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${gen}/${TARNWICK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${pkg}/tarnwick.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TARNWICK_APP_ID}.svg)
install(FILES ${gen}/tarnwick-autostart.desktop DESTINATION ${TARNWICK_INSTALL_DOCDIR}/examples)

# The units name /usr/bin; another prefix gets its own folder, written at install time.
foreach(u tarnwick-backup.service tarnwick-backup.timer tarnwick-compact.service tarnwick-compact.timer)
  install(CODE "
    file(READ \"${pkg}/systemd/${u}\" unit)
    string(REPLACE \"/usr/bin/\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\" unit \"\${unit}\")
    file(WRITE \"${gen}/systemd/${u}\" \"\${unit}\")")
  install(FILES ${gen}/systemd/${u} DESTINATION lib/systemd/user)
endforeach()

# The Debian package: scripts/package.sh, or cpack in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TARNWICK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended maintenance of Access database files")
set(CPACK_PACKAGE_DESCRIPTION
  "Tarnwick makes timed backups of Access database files (plain copies or zip
archives), repairs and compacts them with its own Jet 3 / Jet 4 engine, and
ends the session at a set time. A window sets the jobs up; tarnwick-run runs
them without a display, from the systemd user timers installed with it.
tarnwick-jet, tarnwick-zip and tarnwick-copy check, compact, archive and copy
from the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TARNWICK_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The private zip library belongs to this package; dpkg-shlibdeps is told where it is.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS /usr/${TARNWICK_INSTALL_PKGLIBDIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_THREADS 2)
include(CPack)
