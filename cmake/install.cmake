# What `cmake --install` (and `make install`) puts where, and the packages
# built from it: `make package` (.deb and .tar.gz) and `make package-windows`
# (.zip and, from the same files, the .msi of cmake/msi/).
#
# Every user program is installed the same way on both systems, from the
# list below: the program, its man page man/<program>.1 and its bash
# completion completions/<program>.bash (zsh: one file, completions/_vendrak,
# with a case per program). A program this build does not make (vendrak-lsp
# without nlohmann-json) is left out of every package.
#
# Linux (under the prefix):
#   bin/                                    the programs
#   share/man/man1, man5                    their man pages, vendrak-script(5) and vbf(5), compressed
#   share/doc/vendrak/                      README, the language manual, limits, CHANGELOG,
#                                           copyright (with the license), changelog.gz
#   share/doc/vendrak/examples/             the example scripts with their VBF files
#   share/bash-completion/completions/      one completion per program
#   share/zsh/site-functions/_vendrak       (share/zsh/vendor-completions under /usr, as Debian's zsh looks there)
#   share/vim/vimfiles/, share/nvim/site/   the Vim files of editors/vim: file type, syntax, settings, compiler
#   share/vendrak/vscode/                   the VS Code extension for linux-x64, when `make vsix` has built it
#
# Windows (one folder: the .zip, and Program Files\vendrak for the .msi):
#   vendrak.exe, vendrak-inspect.exe, ...   the programs, linked statically
#   README.md, LICENSE, CHANGELOG.md
#   docs/                                   the language manual and the limits
#   docs/man/                               the man pages as HTML (as text without mandoc)
#   examples/                               the example scripts with their VBF files
#   vscode/                                 the VS Code extension for win32-x64, when `make vsix` has built it
set(vendrak_programs vendrak vendrak-inspect vendrak-check vendrak-lsp vendrak-fmt vendrak-vbf)
set(vendrak_installed)
foreach(program ${vendrak_programs})
  if(TARGET ${program})
    list(APPEND vendrak_installed ${program})
  endif()
endforeach()

# Where `make vsix` leaves the VS Code extensions (vendrak-script-<version>-<platform>.vsix).
set(VENDRAK_VSIX_DIR "" CACHE PATH "Directory with the .vsix files to ship in the packages")
if(WIN32)
  set(vendrak_vsix_platform win32-x64)
else()
  set(vendrak_vsix_platform linux-x64)
endif()
set(vendrak_vsix ${VENDRAK_VSIX_DIR}/vendrak-script-${PROJECT_VERSION}-${vendrak_vsix_platform}.vsix)

# The man pages of the installed programs and the manual's page, in the
# form each system reads: gzip-compressed for man(1), HTML (mandoc) for
# Windows. Made in <build>/man.
set(vendrak_pages)
foreach(program ${vendrak_installed})
  list(APPEND vendrak_pages ${program}.1)
endforeach()
list(APPEND vendrak_pages vendrak-script.5 vbf.5)
set(vendrak_page_files)
find_program(VENDRAK_MANDOC mandoc)
foreach(page ${vendrak_pages})
  set(source ${PROJECT_SOURCE_DIR}/man/${page})
  if(NOT WIN32)
    # -n: no name or time stamp in the gzip header, so that the same page
    # always gives the same bytes.
    set(made ${PROJECT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${made} COMMAND gzip -9 -n -c ${source} > ${made} DEPENDS ${source} VERBATIM)
  elseif(VENDRAK_MANDOC)
    set(made ${PROJECT_BINARY_DIR}/man/${page}.html)
    add_custom_command(OUTPUT ${made} COMMAND ${VENDRAK_MANDOC} -T html ${source} > ${made}
                       DEPENDS ${source} VERBATIM)
  else()
    set(made ${PROJECT_BINARY_DIR}/man/${page}.txt)
    configure_file(${source} ${made} COPYONLY)
  endif()
  list(APPEND vendrak_page_files ${made})
endforeach()
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
add_custom_target(vendrak_man_pages ALL DEPENDS ${vendrak_page_files})

if(WIN32)
  foreach(program ${vendrak_installed})
    install(TARGETS ${program} RUNTIME DESTINATION .)
  endforeach()
  install(FILES README.md CHANGELOG.md LICENSE DESTINATION .)
  install(FILES docs/language.md docs/limits.md DESTINATION docs)
  install(FILES ${vendrak_page_files} DESTINATION docs/man)
  install(DIRECTORY examples/ DESTINATION examples
          FILES_MATCHING PATTERN "*.vsc" PATTERN "*.vbf" PATTERN "README.md")
  install(CODE "
    if(EXISTS \"${vendrak_vsix}\")
      file(INSTALL \"${vendrak_vsix}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/vscode\")
    endif()
  ")

  set(CPACK_PACKAGE_NAME vendrak)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGE_FILE_NAME vendrak-${PROJECT_VERSION}-Windows-${CMAKE_SYSTEM_PROCESSOR})
  include(CPack)
  return()
endif()

include(GNUInstallDirs)

foreach(program ${vendrak_installed})
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES completions/${program}.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME ${program})
endforeach()
foreach(file ${vendrak_page_files})
  string(REGEX MATCH "[0-9]\\.gz$" section ${file})
  string(SUBSTRING ${section} 0 1 section)
  install(FILES ${file} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# The license is in the copyright file below.
install(FILES README.md CHANGELOG.md docs/language.md docs/limits.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        FILES_MATCHING PATTERN "*.vsc" PATTERN "*.vbf" PATTERN "README.md")
# The extension is made after the build is configured; it is installed when
# it is there at install time, and no empty folder is left when it is not.
install(CODE "
  if(EXISTS \"${vendrak_vsix}\")
    file(INSTALL \"${vendrak_vsix}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/vendrak/vscode\")
  endif()
")
foreach(vim_dir vim/vimfiles nvim/site)
  install(DIRECTORY editors/vim/ DESTINATION ${CMAKE_INSTALL_DATADIR}/${vim_dir} FILES_MATCHING PATTERN "*.vim")
endforeach()
# The syntax file is made by the build from the vocabulary table.
if(TARGET vocabulary_files)
  foreach(vim_dir vim/vimfiles nvim/site)
    install(FILES ${PROJECT_BINARY_DIR}/editors/vim/syntax/vsc.vim DESTINATION ${CMAKE_INSTALL_DATADIR}/${vim_dir}/syntax)
  endforeach()
endif()

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

# The maintainer of the packages, in this one place: the Maintainer field of
# the .deb, the copyright file's contact and the changelog's signature.
# Set it with -DVENDRAK_MAINTAINER="Name <address>" (or MAINTAINER=... for
# `make package`).
set(VENDRAK_MAINTAINER "vendrak authors <maintainers@vendrak.invalid>" CACHE STRING
    "Maintainer of the packages (Name <address>)")
# The Debian package's own documents: the copyright in the machine-readable
# format, and the changelog of a native package, whose newest entry is this
# version (cmake/debian/changelog.in), dated now or at SOURCE_DATE_EPOCH.
set(vendrak_debian ${PROJECT_BINARY_DIR}/debian)
string(TIMESTAMP vendrak_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(cmake/debian/changelog.in ${vendrak_debian}/changelog @ONLY)
configure_file(cmake/debian/copyright.in ${vendrak_debian}/copyright @ONLY)
add_custom_command(OUTPUT ${vendrak_debian}/changelog.gz
                   COMMAND gzip -9 -n -c ${vendrak_debian}/changelog > ${vendrak_debian}/changelog.gz
                   DEPENDS ${vendrak_debian}/changelog VERBATIM)
add_custom_target(vendrak_debian_changelog ALL DEPENDS ${vendrak_debian}/changelog.gz)
install(FILES ${vendrak_debian}/copyright ${vendrak_debian}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME vendrak)
set(CPACK_PACKAGE_VENDOR "vendrak")
set(CPACK_PACKAGE_CONTACT "${VENDRAK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compiler for the scripts of a handheld vehicle-interface device")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "vendrak checks a device script (screens, LEDs, keys, logs, CAN or LIN"
    "network, diagnostic protocol, data identifiers, security access, ECU"
    "flashing with VBF files), compiles it into the device's program, converts"
    "every VBF file it programs and writes one container, optionally AES-128"
    "encrypted. vendrak-inspect verifies, lists and decompiles containers;"
    "vendrak-check reports every error of a script at once and warns about"
    "the slips that compile, for editors and CI; vendrak-lsp gives editors"
    "its findings as a script is typed, with hover, definitions and completion;"
    "vendrak-fmt lays scripts out in one canonical layout; vendrak-vbf"
    "shows, verifies, makes and unpacks VBF flash files.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME vendrak-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

include(CPack)
