# Included by the install step (see CMakeLists.txt): writes velmora.pc for
# the prefix of this installation. The caller sets velmoraPcTemplate,
# velmoraPcFile, velmoraPcLibdir, velmoraPcIncludedir (as given to
# GNUInstallDirs, relative or absolute) and velmoraPcVersion.
set(velmoraPcPrefix "${CMAKE_INSTALL_PREFIX}")
# Folders below the prefix are written through ${prefix}, so the file can
# be read with another prefix (pkg-config --define-prefix) or a sysroot.
foreach(folder velmoraPcLibdir velmoraPcIncludedir)
  if(NOT IS_ABSOLUTE "${${folder}}")
    set(${folder} "\${prefix}/${${folder}}")
  endif()
endforeach()
configure_file("${velmoraPcTemplate}" "${velmoraPcFile}" @ONLY)
