# Run at install time (see se_install_configured in the top CMakeLists.txt):
# fills SE_SOURCE's @SE_...@ names with the directories of this installation
# and installs the result as SE_DESTINATION/SE_NAME, gzip-compressed (with
# ".gz") when SE_GZIP is true. CMAKE_INSTALL_PREFIX is where the files will
# live (cpack stages them under DESTDIR, outside that prefix), so a unit or
# manual page names the paths of the installed system.
set(SE_BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
set(SE_CGIDIR "${CMAKE_INSTALL_PREFIX}/lib/cgi-bin")
set(SE_DATADIR "${CMAKE_INSTALL_PREFIX}/share/theme_search")
# A directory of its own per destination, so that two installations from one
# build tree (cmake --install, cpack) never share a file.
string(MD5 destination_key "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
set(configured "${SE_WORK_DIR}/${destination_key}/${SE_NAME}")
configure_file("${SE_SOURCE}" "${configured}" @ONLY)
if(SE_GZIP)
  file(ARCHIVE_CREATE OUTPUT "${configured}.gz" PATHS "${configured}" FORMAT raw
    COMPRESSION GZip)
  set(configured "${configured}.gz")
endif()
file(INSTALL "${configured}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${SE_DESTINATION}")
