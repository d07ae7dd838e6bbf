# The Debian package, made by CPack from what `cmake --install` puts under /usr. Its
# dependencies come from dpkg-shlibdeps, never from a list kept here.
set(CPACK_PACKAGE_NAME tessera-server-manager)
set(CPACK_PACKAGE_VENDOR "Tessera")
set(CPACK_PACKAGE_CONTACT "Tessera <dev@tessera.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "administer Tessera network collections on SQL Server")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description, below the summary line CPack writes from the summary above.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tessera Server Manager administers network collections, the archive databases
that the Tessera desktop archiving application keeps on SQL Server: it
registers servers and creates, attaches, detaches, deletes, renames and
upgrades collections, generates their plain text for searching, and manages
logins, collection users, roles, owners and the full-text index.
.
The package holds the desktop console tessera-server-manager, the
command-line tool tessera-admin and tessera-sandbox, a local stand-in for
SQL Server on which everything can be tried.")

# The dates come from SOURCE_DATE_EPOCH when it is set (scripts/package sets it to the last
# commit's time), so the same tree makes the same package.
string(TIMESTAMP TESSERA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in
               ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
                   COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/debian/changelog
                   DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
add_custom_target(debian-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright
              ${PROJECT_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${doc_dir})

# What an installation is made of: `cmake --build B --target installed-files` builds just that
# (no tests), for a package from a tree of its own.
add_custom_target(installed-files)
add_dependencies(installed-files tessera-admin tessera-sandbox debian-changelog
                 ${TESSERA_INSTALLED_FILES_TARGETS})
if(TARGET tessera-server-manager)
  add_dependencies(installed-files tessera-server-manager)
endif()

include(CPack)
