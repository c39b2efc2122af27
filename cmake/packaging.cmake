# The Debian package: cpack -G DEB in a build tree (scripts/package.sh makes
# a Release one). It installs under /usr: the programs in /usr/bin and
# /usr/lib/cgi-bin, the units in /usr/lib/systemd/system, the schema,
# examples and manual pages under /usr/share. The install rules run with
# CMAKE_INSTALL_PREFIX=/usr under a staging DESTDIR, so what is configured
# at install time (units, manual pages) names /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_NAME theme-search)
set(CPACK_PACKAGE_CONTACT "Theme search maintainers <maintainers@theme-search.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "theme-focused web search engine: crawler and search page")
set(CPACK_PACKAGE_DESCRIPTION
  "crawler crawls one site best-first, decides from weighted theme words which pages are on theme and indexes their keywords in a MariaDB or MySQL database; searchcgi, a CGI and FastCGI program, answers searches of that index with ranked result pages (HTML or JSON).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_STRIP_FILES ON)
# The shared libraries' packages come from dpkg-shlibdeps; these are the
# outside programs started at run time: ps2ascii for PDF and PostScript, and
# aspell for the spelling suggestions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ghostscript, aspell")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "aspell-fr, mariadb-server | default-mysql-server")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lighttpd")
include(CPack)
