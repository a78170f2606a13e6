# What `cmake --install` puts where, and the packages CPack makes from it: a Debian
# package from the Linux build, a ZIP from the Windows one.
include(GNUInstallDirs)

if(WIN32)
  # One folder: the program and its README, nothing to install.
  if(TARGET korvalcom)
    install(TARGETS korvalcom RUNTIME DESTINATION .)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
else()
  install(TARGETS korvalcom korval-netemu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  include(${CMAKE_CURRENT_LIST_DIR}/debian_docs.cmake)
  install(FILES ${KORVAL_MAN_PAGES_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${KORVAL_DEBIAN_COPYRIGHT} ${KORVAL_DEBIAN_CHANGELOG_GZ}
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/doc/examples/
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()

set(CPACK_PACKAGE_NAME korvalcom)
set(CPACK_PACKAGE_VENDOR "Korval")
set(CPACK_PACKAGE_CONTACT "korvalcom maintainers <korvalcom@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "batch modem exchange of banking files over TRANSPAC")
set(CPACK_PACKAGE_DESCRIPTION [[
korvalcom dials the TRANSPAC network through a modem, has its PAD connect
a bank's site, presents a parameter card, and sends a file of EBCDIC
records (L.C.R, Virement, DADS) or receives an account statement. Another
application starts it with a job file and reads the outcome back there.
korval-netemu plays the modem, the PAD and the bank on a pseudo-terminal,
so that the program can be tried without a modem.]])
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION comm)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends is computed from the binaries (dpkg-shlibdeps, from dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
