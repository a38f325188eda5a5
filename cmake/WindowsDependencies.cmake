# The libraries of the Windows build, from the prefixes that scripts/lib/windeps.sh builds
# (passed through the toolchain as OSTREL_WINDOWS_PREFIXES). Everything is linked statically,
# so the executables need no DLLs but Windows' own.

# curl with Schannel; its CMake files carry CURL_STATICLIB and the Windows libraries it needs.
find_package(CURL CONFIG REQUIRED)

# MariaDB Connector/C installs no CMake files: its static client library and headers, as an
# imported target of the same shape as the Linux build's.
find_path(MARIADB_INCLUDE_DIR mysql.h PATH_SUFFIXES mariadb REQUIRED)
find_library(MARIADB_CLIENT_LIBRARY NAMES libmariadbclient.a mariadbclient PATH_SUFFIXES mariadb REQUIRED)
add_library(MariaDB::Client STATIC IMPORTED)
set_target_properties(MariaDB::Client PROPERTIES
    IMPORTED_LOCATION ${MARIADB_CLIENT_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${MARIADB_INCLUDE_DIR}
    # Winsock, the registry and Schannel's TLS.
    INTERFACE_LINK_LIBRARIES "ws2_32;advapi32;shlwapi;secur32;crypt32;bcrypt")
