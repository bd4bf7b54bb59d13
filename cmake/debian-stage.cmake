# Run by CPack once the components are installed into their staging directories: gives each
# package what Debian's packaging tools give theirs, and no `cmake --install` wants: the
# copyright and the changelog in /usr/share/doc/<package>, manual pages and that changelog
# compressed with gzip -9n, shared libraries without the execute bit.
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} var)
  set(root ${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX})
  set(doc ${root}/share/doc/${CPACK_DEBIAN_${var}_PACKAGE_NAME})
  file(MAKE_DIRECTORY ${doc})
  file(COPY_FILE ${CPACK_KV_LICENSE} ${doc}/copyright)
  file(COPY_FILE ${CPACK_KV_CHANGELOG} ${doc}/changelog)
  file(GLOB_RECURSE pages ${root}/share/man/*)
  execute_process(COMMAND gzip -9nf ${doc}/changelog ${pages} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE objects ${root}/lib/*.so*)
  foreach(object ${objects})
    if(NOT IS_SYMLINK ${object})
      file(CHMOD ${object} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
  endforeach()
endforeach()
