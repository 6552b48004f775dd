# The Debian packages, for a tree configured with -DCOLLECTEUR_PAQUETS=ON:
# `cmake --build <dir> --target package` (scripts/paquets.sh) writes
#   collecteur        the collector, collecteur-afficheur, collecteur-web,
#                     collecteur-archive, their units;
#   collecteur-sonde  the hypervisor agent and its unit, alone;
#   collecteur-outils the simulator collecteur-agent.
# Their dependencies come from the binaries (dpkg-shlibdeps), plus what no
# binary links: the SQLite driver Qt loads as a plugin, adduser for the
# postinst.
set(COLLECTEUR_REVISION_DEBIAN 1 CACHE STRING "Debian revision of the packages")
set(COLLECTEUR_MAINTENEUR "The collecteur developers <collecteur@example.org>" CACHE STRING
    "Maintainer field of the packages")
set(VERSION_DEBIAN ${PROJECT_VERSION}-${COLLECTEUR_REVISION_DEBIAN})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME collecteur)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${COLLECTEUR_MAINTENEUR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${COLLECTEUR_COMPOSANT_SERVEUR} ${COLLECTEUR_COMPOSANT_SONDE} ${COLLECTEUR_COMPOSANT_OUTILS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${COLLECTEUR_REVISION_DEBIAN})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${COLLECTEUR_MAINTENEUR})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Maintainer scripts executable, the other control files not.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Per package: its changelog and copyright file, and the control files that
# enable and start its units and list its configuration files.
function(collecteur_paquet composant paquet)
    cmake_parse_arguments(PAQUET "" "POSTINST" "UNITES;CONFFILES" ${ARGN})
    set(dossier ${CMAKE_BINARY_DIR}/paquets/${paquet})
    set(PAQUET ${paquet})
    configure_file(${PROJECT_SOURCE_DIR}/dist/debian/changelog.in ${dossier}/changelog.Debian @ONLY)
    execute_process(COMMAND gzip -9 -n -c ${dossier}/changelog.Debian
                    OUTPUT_FILE ${dossier}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
    install(FILES ${dossier}/changelog.Debian.gz ${PROJECT_SOURCE_DIR}/dist/debian/copyright
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${paquet} COMPONENT ${composant})
    configure_file(${PROJECT_SOURCE_DIR}/dist/debian/lintian-overrides.in ${dossier}/lintian-overrides @ONLY)
    install(FILES ${dossier}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
            RENAME ${paquet} COMPONENT ${composant})

    set(controle "")
    if(PAQUET_CONFFILES)
        string(REPLACE ";" "\n" lignes "${PAQUET_CONFFILES}")
        file(WRITE ${dossier}/conffiles "${lignes}\n")
        list(APPEND controle ${dossier}/conffiles)
    endif()
    if(PAQUET_UNITES)
        string(REPLACE ";" " " UNITES "${PAQUET_UNITES}")
        file(READ ${PROJECT_SOURCE_DIR}/dist/debian/systemd.postinst SYSTEMD_POSTINST)
        string(CONFIGURE "${SYSTEMD_POSTINST}" SYSTEMD_POSTINST @ONLY)
        configure_file(${PAQUET_POSTINST} ${dossier}/postinst @ONLY)
        configure_file(${PROJECT_SOURCE_DIR}/dist/debian/prerm.in ${dossier}/prerm @ONLY)
        configure_file(${PROJECT_SOURCE_DIR}/dist/debian/postrm.in ${dossier}/postrm @ONLY)
        list(APPEND controle ${dossier}/postinst ${dossier}/prerm ${dossier}/postrm)
    endif()

    string(TOUPPER ${composant} COMPOSANT)
    set(CPACK_DEBIAN_${COMPOSANT}_PACKAGE_NAME ${paquet} PARENT_SCOPE)
    set(CPACK_DEBIAN_${COMPOSANT}_PACKAGE_CONTROL_EXTRA "${controle}" PARENT_SCOPE)
endfunction()

collecteur_paquet(${COLLECTEUR_COMPOSANT_SERVEUR} collecteur
                  POSTINST ${PROJECT_SOURCE_DIR}/dist/debian/collecteur.postinst.in
                  UNITES ${COLLECTEUR_UNITES_SERVEUR}
                  CONFFILES ${COLLECTEUR_CONFIGURATION} ${COLLECTEUR_ARCHIVE_CONFIGURATION} ${COLLECTEUR_WEB_CONFIGURATION}
                            ${COLLECTEUR_REGLES})
set(CPACK_DEBIAN_COLLECTEUR_PACKAGE_DEPENDS "libqt${QT_VERSION_MAJOR}sql${QT_VERSION_MAJOR}-sqlite, adduser")
set(CPACK_COMPONENT_COLLECTEUR_DESCRIPTION
"collector of hypervisor measurements, relayed to display clients
The collector receives the UDP reports of the hypervisor agents
(collecteur-sonde), checks their sequence numbers, keeps them in SQLite
files written every hour in /var/lib/collecteur, and relays them as they
arrive to the display clients connected on TCP port 56000.
.
This package holds the collector, its systemd service and its settings
file, the display client collecteur-afficheur, the web dashboard
collecteur-web (live fleet, history charts, Prometheus metrics) with its
own service, and collecteur-archive with its service and settings file: it
rolls the backups into a long-term RRDtool archive of fixed size and
deletes the archived ones past an age or when free space runs low.")

if(TARGET collecteur-sonde)
    collecteur_paquet(${COLLECTEUR_COMPOSANT_SONDE} collecteur-sonde
                      POSTINST ${PROJECT_SOURCE_DIR}/dist/debian/collecteur-sonde.postinst.in
                      UNITES ${COLLECTEUR_UNITES_SONDE}
                      CONFFILES ${COLLECTEUR_SONDE_CONFIGURATION})
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/collecteur-sonde
            COMPONENT ${COLLECTEUR_COMPOSANT_SONDE})
    set(CPACK_COMPONENT_SONDE_DESCRIPTION
"hypervisor agent sending measurements to the collector
Every few seconds the agent reads the host (CPU, memory, disk, network,
temperatures) and its libvirt domains, and sends one report to each
collector over UDP. It is installed alone on every hypervisor: it needs
neither the collector nor Qt's SQL module.")
else()
    message(WARNING "collecteur-sonde n'est pas construit (libvirt-dev absent) : pas de paquet collecteur-sonde")
    list(REMOVE_ITEM CPACK_COMPONENTS_ALL ${COLLECTEUR_COMPOSANT_SONDE})
endif()

collecteur_paquet(${COLLECTEUR_COMPOSANT_OUTILS} collecteur-outils)
set(CPACK_COMPONENT_OUTILS_DESCRIPTION
"simulator of hypervisor agents for the collector
collecteur-agent sends the collector reports of simulated hypervisors and
their virtual machines, at a chosen rate, with gaps, repeats and swaps in
their sequence numbers on demand: to try an installation, or to load it.")

include(CPack)
