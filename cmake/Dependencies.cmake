# Third-party libraries, all from Debian packages (scripts/setup.sh installs them).
find_package(PkgConfig REQUIRED)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(PCRECPP REQUIRED IMPORTED_TARGET libpcrecpp)
pkg_check_modules(RAPIDJSON REQUIRED IMPORTED_TARGET RapidJSON)
find_package(Threads REQUIRED)

if(ZOLTSH_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(ZOLTSH_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
