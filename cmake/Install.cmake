# What `cmake --install` puts where, and the Debian package made from it
# (`cpack -G DEB` in the build folder).  Included after every program is
# defined: only the programs this build made are installed, each with its
# manual page and its completion.  Test helpers (dvmkimage) are not.
include(GNUInstallDirs)

set(DV_INSTALLED_PROGRAMS
  dvinit dvspace dvtype dvnewdir dvprune dvls dvcopy dvdel dvrename dvattr dvcheck dvconvert dvident dvboot dvdiff dvundel dvmount)
set(DV_BUILT_PROGRAMS "")
foreach(prog IN LISTS DV_INSTALLED_PROGRAMS)
  if(TARGET ${prog})
    list(APPEND DV_BUILT_PROGRAMS ${prog})
  endif()
endforeach()

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS ${DV_BUILT_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages, compressed as Debian ships them (gzip -n: the same bytes on
# every build).  Without gzip they are installed as they are.
find_program(DV_GZIP gzip)
set(DV_PAGES dv.5)
foreach(prog IN LISTS DV_BUILT_PROGRAMS)
  list(APPEND DV_PAGES ${prog}.1)
endforeach()
set(DV_PAGE_FILES "")
foreach(page IN LISTS DV_PAGES)
  set(src ${PROJECT_SOURCE_DIR}/man/${page})
  if(DV_GZIP)
    set(out ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E copy ${src} ${PROJECT_BINARY_DIR}/man/${page}
      COMMAND ${DV_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/${page}
      DEPENDS ${src} VERBATIM)
  else()
    set(out ${src})
  endif()
  list(APPEND DV_PAGE_FILES ${out})
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(dv_manpages ALL DEPENDS ${DV_PAGE_FILES})

# One completion script, found by bash-completion under each program's name.
set(DV_COMPLETIONS ${PROJECT_BINARY_DIR}/completions)
configure_file(${PROJECT_SOURCE_DIR}/completion/dv.bash ${DV_COMPLETIONS}/dv COPYONLY)
install(FILES ${DV_COMPLETIONS}/dv DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
foreach(prog IN LISTS DV_BUILT_PROGRAMS)
  file(CREATE_LINK dv ${DV_COMPLETIONS}/${prog} SYMBOLIC)
  install(FILES ${DV_COMPLETIONS}/${prog} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()

install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The package's changelog, compressed as Debian's policy asks (gzip -9n, the
# same bytes on every build).  LICENSE is installed by `cmake --install` but
# left out of the package, whose copyright file holds the same licence.
if(DV_GZIP)
  set(DV_CHANGELOG ${PROJECT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${DV_CHANGELOG}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/changelog
    COMMAND ${DV_GZIP} -9nf ${PROJECT_BINARY_DIR}/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
  add_custom_target(dv_changelog ALL DEPENDS ${DV_CHANGELOG})
  install(FILES ${DV_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)

# ---- Debian package --------------------------------------------------------
set(DV_MAINTAINER "dv developers <dv@example.org>" CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tools for OS-9 RBF disk images")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${DV_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION "dv formats, lists, checks and repairs OS-9 RBF disk images (the virtual disks
of OS-9 machines and their emulators) and copies files into, out of and
between them, from a Linux shell and without running OS-9.")
# Everything but the licence component (see above).
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};dv;Unspecified;/")
# dvmount needs fusermount3 to be mounted by users and unmounted by anyone.
if(TARGET dvmount)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fuse3)
endif()
include(CPack)
