# Run by CPack after it has made the packages (CPACK_POST_BUILD_SCRIPTS). CPack's
# debug-symbol package is not yet one dpkg and lintian accept: its md5sums name the
# .debug files by their path in CPack's build tree, the files are executable, and it has
# no documentation folder. This rebuilds it as Debian's own -dbgsym packages are: md5sums
# relative to the root, .debug files 0644, and /usr/share/doc/<name>-dbgsym a link to
# the documentation of the package it belongs to (which it depends on, exactly).
find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "/([a-z0-9.+-]+)-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(owner "${CMAKE_MATCH_1}")
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND ${DPKG_DEB} --raw-extract "${package}" "${tree}"
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-deb cannot unpack ${package}")
  endif()

  file(GLOB_RECURSE debug_files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/usr/lib/debug/*")
  list(SORT debug_files)
  set(sums "")
  foreach(debug_file IN LISTS debug_files)
    file(CHMOD "${tree}/${debug_file}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MD5 "${tree}/${debug_file}" sum)
    string(APPEND sums "${sum}  ${debug_file}\n")
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")

  file(MAKE_DIRECTORY "${tree}/usr/share/doc")
  file(CREATE_LINK "${owner}" "${tree}/usr/share/doc/${owner}-dbgsym" SYMBOLIC)

  file(REMOVE "${package}")
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group --build "${tree}" "${package}"
                  OUTPUT_QUIET RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-deb cannot build ${package}")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
