# What `cmake --install` puts where, and the packages CPack makes from it: a Debian
# package from the Linux build, a ZIP from the Windows one.
include(GNUInstallDirs)

if(WIN32)
  # One folder, nothing to install: the program, a README for Windows users, the
  # licence and example files. Their text is ASCII, so Windows-1252 as well, and
  # gets CR LF ends, as Notepad and the calling applications write them.
  if(TARGET korvalcom)
    install(TARGETS korvalcom RUNTIME DESTINATION .)
  endif()
  set(KORVAL_ZIP_TEXT ${CMAKE_BINARY_DIR}/zip-text)
  function(korval_windows_text source name)
    file(READ ${source} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${KORVAL_ZIP_TEXT}/${name} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  endfunction()
  korval_windows_text(${PROJECT_SOURCE_DIR}/doc/windows/README.txt README.txt)
  korval_windows_text(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt)
  install(FILES ${KORVAL_ZIP_TEXT}/README.txt ${KORVAL_ZIP_TEXT}/LICENSE.txt DESTINATION .)
  file(GLOB KORVAL_WINDOWS_EXAMPLES ${PROJECT_SOURCE_DIR}/doc/windows/examples/*.ini)
  foreach(example ${KORVAL_WINDOWS_EXAMPLES})
    get_filename_component(example_name ${example} NAME)
    korval_windows_text(${example} examples/${example_name})
    install(FILES ${KORVAL_ZIP_TEXT}/examples/${example_name} DESTINATION examples)
  endforeach()
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
  # The ZIP says which Windows it is for.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME windows-x86_64)
  else()
    set(CPACK_SYSTEM_NAME windows-x86)
  endif()
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
