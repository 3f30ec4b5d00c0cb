# Every library and tool the build needs is checked here, at configure time, so that a missing one
# stops the configuration with the Debian package that provides it (see scripts/packages).

function(kelvra_missing what package)
  message(FATAL_ERROR "${what} not found: install the Debian package ${package} "
    "(apt-get install ${package}, or scripts/install-packages with its group)")
endfunction()

find_package(Threads REQUIRED)

find_package(ZLIB QUIET)
if(NOT ZLIB_FOUND)
  kelvra_missing("zlib (zlib.h, libz)" zlib1g-dev)
endif()

# https: the TLS channel needs OpenSSL 3.
find_package(OpenSSL 3 QUIET)
if(NOT OPENSSL_FOUND)
  kelvra_missing("OpenSSL 3 (openssl/ssl.h, libssl)" libssl-dev)
endif()

# libntlm ships no CMake or pkg-config file that Debian's build finds reliably: header and library.
find_path(NTLM_INCLUDE_DIR ntlm.h)
find_library(NTLM_LIBRARY ntlm)
if(NOT NTLM_INCLUDE_DIR OR NOT NTLM_LIBRARY)
  kelvra_missing("libntlm (ntlm.h, libntlm)" libntlm0-dev)
endif()
add_library(kelvra_ntlm INTERFACE)
target_include_directories(kelvra_ntlm INTERFACE ${NTLM_INCLUDE_DIR})
target_link_libraries(kelvra_ntlm INTERFACE ${NTLM_LIBRARY})

if(KELVRA_GUI)
  # The desktop program; its tests drive it with QtTest.
  find_package(Qt6 QUIET COMPONENTS Widgets Test)
  if(NOT Qt6Widgets_FOUND OR NOT Qt6Test_FOUND)
    kelvra_missing("Qt 6 Widgets and Test (KELVRA_GUI=ON; KELVRA_GUI=OFF builds without kelvraw)"
      qt6-base-dev)
  endif()
endif()

if(KELVRA_TESTS)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND OR NOT TARGET GTest::gmock)
    kelvra_missing("GoogleTest and GoogleMock (KELVRA_TESTS=ON)" "libgtest-dev libgmock-dev")
  endif()
  # Network tests use curl as the browser and a real FTP server.
  find_program(KELVRA_CURL curl)
  if(NOT KELVRA_CURL)
    kelvra_missing("curl (KELVRA_TESTS=ON)" curl)
  endif()
  execute_process(COMMAND /usr/bin/python3 -c "import pyftpdlib"
    RESULT_VARIABLE pyftpdlib_status OUTPUT_QUIET ERROR_QUIET)
  if(NOT pyftpdlib_status EQUAL 0)
    kelvra_missing("python3 with pyftpdlib (KELVRA_TESTS=ON)" python3-pyftpdlib)
  endif()
  # The https tests make their certificate authority and certificates with the openssl command.
  find_program(KELVRA_OPENSSL openssl)
  if(NOT KELVRA_OPENSSL)
    kelvra_missing("openssl (KELVRA_TESTS=ON)" openssl)
  endif()
endif()

if(KELVRA_BENCH)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    kelvra_missing("Google Benchmark (KELVRA_BENCH=ON)" libbenchmark-dev)
  endif()
endif()
