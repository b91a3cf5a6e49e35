# What an administrator installs, made with CPack from the builds:
#   host build   the Debian package: the Linux programs, their manual pages,
#                the sample domain and the demo under /usr/share/qelscript
#   MinGW builds the ZIP of the Windows programs: QelScript.exe and
#                QelCheck.exe, the administrator's guide in three languages,
#                the licence and the programs' SHA-256 sums
# (cd build/<b> && cpack) writes the package into the build folder.

set(CPACK_PACKAGE_NAME qelscript)
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Qel anti-virus client deployment through domain logon scripts")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE.txt)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(QEL_HOST)
  include(GNUInstallDirs)
  install(TARGETS qel-deploy qelscript qelcheck domain-tool qel-center-standin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES samples/sample-domain.ldif DESTINATION ${CMAKE_INSTALL_DATADIR}/qelscript)
  install(PROGRAMS tools/demo.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/qelscript)
  install(FILES LICENSE.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qelscript RENAME copyright)

  # Manual pages, written in roff, installed compressed.
  set(qel_man_pages qel-deploy qelscript qelcheck domain-tool qel-center-standin)
  set(qel_man_outputs)
  foreach(page ${qel_man_pages})
    set(source ${CMAKE_SOURCE_DIR}/docs/man/${page}.1)
    set(output ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND gzip -9 -n -c ${source} > ${output}
      DEPENDS ${source} VERBATIM)
    list(APPEND qel_man_outputs ${output})
  endforeach()
  add_custom_target(qel_man ALL DEPENDS ${qel_man_outputs})
  install(FILES ${qel_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orvane <support@orvane.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Qel anti-virus client deployment through domain logon scripts
qel-deploy adds the Qel client's logon script to chosen accounts of a
Samba Active Directory domain or of a domain file, or removes it again;
qelscript is the same wizard in a terminal, qelcheck the logon-time checker.")
  set(CPACK_STRIP_FILES ON)
  # The libraries' packages (Samba's client libraries among them) come from
  # the programs themselves.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "samba-ad-dc, krb5-user")
else()
  # The ZIP: one folder, the programs at its top.
  install(TARGETS QelScript QelCheck RUNTIME DESTINATION .)
  set(qel_guides)
  foreach(language en zh-CN zh-TW)
    list(APPEND qel_guides ${CMAKE_SOURCE_DIR}/docs/guide/Guide-${language}.txt)
  endforeach()
  install(CODE "
    set(qel_dest \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    # Windows' own editors: CR LF, and a byte-order mark so that Notepad
    # reads the Chinese guides as UTF-8 whatever the system's code page.
    foreach(text ${qel_guides};${CMAKE_SOURCE_DIR}/LICENSE.txt)
      get_filename_component(name \${text} NAME)
      file(READ \${text} body)
      string(REPLACE \"\\n\" \"\\r\\n\" body \"\${body}\")
      string(ASCII 239 187 191 bom)
      file(WRITE \"\${qel_dest}/\${name}\" \"\${bom}\${body}\")
    endforeach()
    set(sums \"\")
    foreach(program QelScript.exe QelCheck.exe)
      file(SHA256 \"\${qel_dest}/\${program}\" sum)
      string(APPEND sums \"\${sum} *\${program}\\r\\n\")
    endforeach()
    file(WRITE \"\${qel_dest}/SHA256SUMS.txt\" \"\${sums}\")
  ")
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME QelScript-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()

include(CPack)
