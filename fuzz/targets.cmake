# The fuzz targets and the library each one drives, as NAME:LIBRARY: built
# with libFuzzer by fuzz/CMakeLists.txt, and with a plain main that replays
# their seed corpora by tests/CMakeLists.txt.
set(SE_FUZZ_TARGETS
  html_scanner_fuzz:crawler_lib
  url_rules_fuzz:crawler_lib
  reply_fuzz:crawler_lib
  config_reader_fuzz:crawler_lib
  sitemap_reader_fuzz:crawler_lib
  query_string_fuzz:searchcgi_lib
)
