# What `cmake --install` puts where (GNUInstallDirs, so --prefix /usr gives
# /usr/bin, /usr/share/...): the two programs, the window's desktop entry,
# icons and AppStream metadata, the manual pages, bash completion, and the
# copyright and changelog under share/doc/quorrel as Debian wants them.
#
# Included from the top-level CMakeLists.txt after ui/ and cli/, so the
# targets quorrel and quorrel-split exist; quorrel-split is installed by
# cli/CMakeLists.txt itself.
include(GNUInstallDirs)

if(TARGET quorrel)
  install(TARGETS quorrel)
endif()
# The rest is for Linux and the other systems that follow freedesktop.org.
if(NOT UNIX OR APPLE)
  return()
endif()

# The reverse-DNS name AppStream asks for; the desktop entry and the
# metadata file are named after it.
set(QUORREL_APP_ID example.quorrel.Quorrel)
set(quorrel_packaging ${PROJECT_SOURCE_DIR}/packaging)

# quorrel_compress(<var> <file in packaging/>) sets <var> to the file to
# install: compressed as Debian wants manual pages and changelogs (gzip -9n,
# no name or time stamp, so the bytes depend on the text alone), or as it is
# where there is no gzip.
find_program(QUORREL_GZIP gzip)
set(quorrel_compressed)
function(quorrel_compress var name)
  if(NOT QUORREL_GZIP)
    set(${var} ${quorrel_packaging}/${name} PARENT_SCOPE)
    return()
  endif()
  set(copy ${PROJECT_BINARY_DIR}/packaging/${name})
  add_custom_command(
    OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${quorrel_packaging}/${name} ${copy}
    COMMAND ${QUORREL_GZIP} -9nf ${copy}
    DEPENDS ${quorrel_packaging}/${name}
    COMMENT "Compressing packaging/${name}"
    VERBATIM)
  set(${var} ${copy}.gz PARENT_SCOPE)
  set(quorrel_compressed ${quorrel_compressed} ${copy}.gz PARENT_SCOPE)
endfunction()

quorrel_compress(quorrel_split_man quorrel-split.1)
quorrel_compress(quorrel_changelog changelog)
if(TARGET quorrel)
  quorrel_compress(quorrel_man quorrel.1)
endif()
add_custom_target(quorrel-packaging-files ALL DEPENDS ${quorrel_compressed})

if(TARGET quorrel)
  install(FILES ${quorrel_packaging}/${QUORREL_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${quorrel_packaging}/${QUORREL_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The PNGs tools/artwork drew for the .ico, one per size of the hicolor theme.
  foreach(size 16 32 48 128)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/quorrel-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME quorrel.png)
  endforeach()
  install(FILES ${quorrel_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES ${quorrel_split_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads a command's completion from a file named after it.
install(FILES ${quorrel_packaging}/quorrel-split.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME quorrel-split)
# The package's name, lower case, rather than CMAKE_INSTALL_DOCDIR's
# share/doc/Quorrel: Debian looks for share/doc/<package>/copyright.
install(FILES ${quorrel_packaging}/copyright ${quorrel_changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorrel)
