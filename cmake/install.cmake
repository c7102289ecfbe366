# What `cmake --install` (and `make install`) puts where, and the packages
# `make package` builds from it: a .deb and a .tar.gz.
#
#   bin/                                    vendrak, vendrak-inspect, vendrak-check, vendrak-lsp, vendrak-vbf
#   share/man/man1, man5                    vendrak(1), vendrak-inspect(1), vendrak-check(1), vendrak-lsp(1),
#                                           vendrak-script(5), vendrak-vbf(1), vbf(5)
#   share/doc/vendrak/                      README, the language manual, limits, LICENSE, CHANGELOG
#   share/doc/vendrak/examples/             the example scripts with their VBF files
#   share/bash-completion/completions/      vendrak, vendrak-inspect, vendrak-check, vendrak-vbf
#   share/zsh/site-functions/_vendrak       (share/zsh/vendor-completions under /usr, as Debian's zsh looks there)
#   share/vim/vimfiles/, share/nvim/site/   the Vim files of editors/vim: file type, syntax, settings, compiler
#
# On Windows one folder, the .zip of `make package-windows`:
#
#   vendrak.exe, vendrak-inspect.exe, README.md, LICENSE, CHANGELOG.md
#   docs/                                   the language manual and the limits
#   examples/                               the example scripts with their VBF files
if(WIN32)
  install(TARGETS vendrak RUNTIME DESTINATION .)
  if(TARGET vendrak-inspect)
    install(TARGETS vendrak-inspect RUNTIME DESTINATION .)
  endif()
  if(TARGET vendrak-vbf)
    install(TARGETS vendrak-vbf RUNTIME DESTINATION .)
  endif()
  install(FILES README.md CHANGELOG.md LICENSE DESTINATION .)
  install(FILES docs/language.md docs/limits.md DESTINATION docs)
  install(DIRECTORY examples/ DESTINATION examples
          FILES_MATCHING PATTERN "*.vsc" PATTERN "*.vbf" PATTERN "README.md")

  set(CPACK_PACKAGE_NAME vendrak)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_FILE_NAME vendrak-${PROJECT_VERSION}-Windows-${CMAKE_SYSTEM_PROCESSOR})
  include(CPack)
  return()
endif()

include(GNUInstallDirs)

install(TARGETS vendrak RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET vendrak-inspect)
  install(TARGETS vendrak-inspect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET vendrak-check)
  install(TARGETS vendrak-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET vendrak-vbf)
  install(TARGETS vendrak-vbf RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES man/vendrak-vbf.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completions/vendrak-vbf.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME vendrak-vbf)
endif()

install(FILES man/vendrak.1 man/vendrak-inspect.1 man/vendrak-check.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The language server is built only where nlohmann-json is installed.
if(TARGET vendrak-lsp)
  install(TARGETS vendrak-lsp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES man/vendrak-lsp.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES man/vendrak-script.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
install(FILES man/vbf.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)

install(FILES README.md CHANGELOG.md LICENSE docs/language.md docs/limits.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        FILES_MATCHING PATTERN "*.vsc" PATTERN "*.vbf" PATTERN "README.md")

install(FILES completions/vendrak.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME vendrak)
install(FILES completions/vendrak-inspect.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME vendrak-inspect)
install(FILES completions/vendrak-check.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME vendrak-check)
foreach(vim_dir vim/vimfiles nvim/site)
  install(DIRECTORY editors/vim/ DESTINATION ${CMAKE_INSTALL_DATADIR}/${vim_dir} FILES_MATCHING PATTERN "*.vim")
endforeach()

# zsh searches $prefix/share/zsh/site-functions, except for the distribution's
# own packages under /usr, which Debian's zsh finds in vendor-completions. The
# prefix is only known at install time (cpack installs under /usr), so the
# choice is made then.
install(CODE "
  if(CMAKE_INSTALL_PREFIX MATCHES \"(^|/)usr/?$\")
    set(vendrak_zsh_dir share/zsh/vendor-completions)
  else()
    set(vendrak_zsh_dir share/zsh/site-functions)
  endif()
  file(INSTALL \"${PROJECT_SOURCE_DIR}/completions/_vendrak\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/\${vendrak_zsh_dir}\")
")

set(CPACK_PACKAGE_NAME vendrak)
set(CPACK_PACKAGE_VENDOR "vendrak")
set(CPACK_PACKAGE_CONTACT "vendrak maintainers <maintainers@vendrak.invalid>" CACHE STRING
    "Maintainer of the packages (name <address>)")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compiler for the scripts of a handheld vehicle-interface device")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "vendrak checks a device script (screens, LEDs, keys, logs, CAN or LIN"
    "network, diagnostic protocol, data identifiers, security access, ECU"
    "flashing with VBF files), compiles it into the device's program, converts"
    "every VBF file it programs and writes one container, optionally AES-128"
    "encrypted. vendrak-inspect verifies, lists and decompiles containers;"
    "vendrak-check reports every error of a script at once and warns about"
    "the slips that compile, for editors and CI; vendrak-lsp gives editors"
    "its findings as a script is typed, with hover, definitions and completion.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME vendrak-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
