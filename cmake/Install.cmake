# Installed as a desktop program: the programs, their icon, menu entry and manual page,
# and what create-db needs to make a user's first database.
include(GNUInstallDirs)
install(TARGETS wayfolio wayfolio-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/dialogs/icons/wayfolio-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME wayfolio.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/app/wayfolio.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/app/wayfolio.1 ${CMAKE_SOURCE_DIR}/cli/wayfolio-cli.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/db/schema.sql ${CMAKE_SOURCE_DIR}/db/templates.sql
              ${CMAKE_SOURCE_DIR}/db/demo.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/wayfolio/db)
# Reader files: the guide types served without a compiler, and their reference.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/readers/ DESTINATION ${CMAKE_INSTALL_DATADIR}/wayfolio/readers
        FILES_MATCHING PATTERN "*.lua" PATTERN "README.md")
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/create-db ${CMAKE_SOURCE_DIR}/scripts/db-server
        DESTINATION ${CMAKE_INSTALL_DATADIR}/wayfolio)

# scripts/package: a Debian package of what "cmake --install" puts in place. Its
# dependencies are read from the libraries the programs link; the embedded engine
# (loaded at run time) and isql-fb (which creates a user's first database) are named.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wayfolio)
set(CPACK_PACKAGE_CONTACT "Wayfolio developers <wayfolio@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "travel guide pages gathered into a database, read offline")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "firebird3.0-server-core, firebird3.0-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
