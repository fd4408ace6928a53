# Install rules. Only the programs and what documents them install: no
# library, test or benchmark of the tree does.
include(GNUInstallDirs)

install(TARGETS velnor-rove velnor-registryd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages go in compressed (gzip -9n: no name or time stamp in the file, so
# two builds give the same bytes), as Debian keeps them.
find_program(VELNOR_GZIP gzip REQUIRED)
set(velnor_man_pages velnor-rove.1 velnor-registryd.1)
set(velnor_compressed_pages)
foreach(page IN LISTS velnor_man_pages)
  set(out ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${VELNOR_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/docs/${page} > ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/${page}
    COMMENT "Compressing man page ${page}")
  list(APPEND velnor_compressed_pages ${out})
endforeach()
add_custom_target(velnor-man-pages ALL DEPENDS ${velnor_compressed_pages})
install(FILES ${velnor_compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# bash-completion loads the completion of a command from a file named like
# the command in its completions directory. The directory comes from
# bash-completion's pkg-config file when there is one; below that file's
# prefix it is taken relative, so that it follows the install prefix
# (`cmake --install build --prefix /tmp/x` stays inside /tmp/x).
set(VELNOR_COMPLETIONSDIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
pkg_get_variable(velnor_bc_dir bash-completion completionsdir)
pkg_get_variable(velnor_bc_prefix bash-completion prefix)
if(velnor_bc_dir AND velnor_bc_prefix)
  string(FIND "${velnor_bc_dir}" "${velnor_bc_prefix}/" at)
  if(at EQUAL 0)
    string(LENGTH "${velnor_bc_prefix}/" skip)
    string(SUBSTRING "${velnor_bc_dir}" ${skip} -1 VELNOR_COMPLETIONSDIR)
  else()
    set(VELNOR_COMPLETIONSDIR ${velnor_bc_dir})
  endif()
endif()
install(FILES ${CMAKE_SOURCE_DIR}/completion/velnor-rove.bash DESTINATION ${VELNOR_COMPLETIONSDIR}
        RENAME velnor-rove)

install(FILES ${CMAKE_SOURCE_DIR}/examples/demo.yaml ${CMAKE_SOURCE_DIR}/examples/velnor-registryd.service
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
