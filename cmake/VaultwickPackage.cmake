# The two Debian packages, made by CPack from the install rules:
#   vaultwick          the command line, the scheduler's systemd user unit, its
#                      manual and bash completion
#   vaultwick-desktop  the desktop program, its menu entry, icons, AppStream
#                      metainfo and manual
# scripts/package builds them; scripts/check-package checks and installs them.

include(GNUInstallDirs)

set(VAULTWICK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc)

# vaultwick_manual(COMPONENT PROGRAM_TARGET TEMPLATE): makes the manual page of
# PROGRAM_TARGET from TEMPLATE and the program's --help texts, compressed, and
# installs it with COMPONENT.
function(vaultwick_manual component program template)
  get_filename_component(page ${template} NAME_WLE)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${page})
  add_custom_command(
    OUTPUT ${output}.gz
    COMMAND python3 ${PROJECT_SOURCE_DIR}/cmake/make_manual.py $<TARGET_FILE:${program}>
            ${template} ${output} ${PROJECT_VERSION}
    COMMAND gzip -9nf ${output}
    DEPENDS ${program} ${template} ${PROJECT_SOURCE_DIR}/cmake/make_manual.py
    COMMENT "Making the manual page ${page}")
  add_custom_target(${program}-manual ALL DEPENDS ${output}.gz)
  install(FILES ${output}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# Each package's copyright and Debian changelog, where Debian's tools look.
foreach(package vaultwick vaultwick-desktop)
  set(PACKAGE ${package})
  set(VERSION ${PROJECT_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
    ${PROJECT_BINARY_DIR}/packaging/${package}/changelog.Debian @ONLY)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/packaging/${package}/changelog.Debian.gz
    COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/packaging/${package}/changelog.Debian
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/${package}/changelog.Debian)
  add_custom_target(${package}-changelog ALL
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/${package}/changelog.Debian.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
    ${PROJECT_BINARY_DIR}/packaging/${package}/changelog.Debian.gz
    DESTINATION ${VAULTWICK_DOC_DIR}/${package} COMPONENT ${package})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vaultwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tessaly Vaultwick")
set(CPACK_PACKAGE_CONTACT "Tessaly Vaultwick developers <vaultwick@tessaly.example>")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL vaultwick vaultwick-desktop)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessaly.example/vaultwick")

set(CPACK_DEBIAN_VAULTWICK_PACKAGE_NAME vaultwick)
set(CPACK_DEBIAN_VAULTWICK_PACKAGE_SECTION database)
set(CPACK_COMPONENT_VAULTWICK_DESCRIPTION
  "keeps copies of MySQL and MariaDB databases in ZIP archives
For each named connection vaultwick writes a plain SQL dump of the whole
database in one snapshot, packs it into a ZIP archive with its own Deflate
compressor on every core, reads the archive back and only then replaces the
older archive. Backups run on a schedule from a systemd user service, or at
once; vaultwick restore loads an archive back into a database.")

set(CPACK_DEBIAN_VAULTWICK-DESKTOP_PACKAGE_NAME vaultwick-desktop)
set(CPACK_DEBIAN_VAULTWICK-DESKTOP_PACKAGE_SECTION database)
set(CPACK_DEBIAN_VAULTWICK-DESKTOP_PACKAGE_DEPENDS "vaultwick (= ${PROJECT_VERSION}-1)")
set(CPACK_COMPONENT_VAULTWICK-DESKTOP_DESCRIPTION
  "desktop program that keeps copies of MySQL and MariaDB databases
The window of Tessaly Vaultwick: the stored connections and their schedules,
the target folder, a backup at once with its progress, and scheduled backups
from the tray. It shares its settings store with the vaultwick command.")

include(CPack)
