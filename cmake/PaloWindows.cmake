# Dependencies of a Windows build. Debian ships no Windows build of pugixml,
# libserialport, libcurl, libzip or libcrypto, so Windows' own libraries stand
# in behind the project's small interfaces: XmlLite for the configuration files,
# the registry and SetupAPI for ports, Winsock for network ports, BCrypt for
# SHA-256, WinHTTP for the update client's transfers, and zlib under the
# project's own zip code. The targets below
# carry the names the subsystems link, so their lists stay as on Linux.

# The header-only libraries are the ones the Linux build uses. Their folders are
# linked into a folder of their own: adding /usr/include itself to a cross
# build would put glibc's headers ahead of the Windows ones.
set(PALO_HEADER_ONLY_DIR ${CMAKE_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${PALO_HEADER_ONLY_DIR})
foreach(folder CLI nlohmann)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/deps.sh")
  endif()
  file(CREATE_LINK /usr/include/${folder} ${PALO_HEADER_ONLY_DIR}/${folder} SYMBOLIC)
endforeach()
# find_package(CLI11) and find_package(nlohmann_json) find these small configs.
foreach(package CLI11 nlohmann_json)
  set(config_dir ${CMAKE_BINARY_DIR}/package-config/${package})
  if(package STREQUAL "CLI11")
    set(target CLI11::CLI11)
  else()
    set(target nlohmann_json::nlohmann_json)
  endif()
  file(WRITE ${config_dir}/${package}Config.cmake
    "if(NOT TARGET ${target})\n"
    "  add_library(${target} INTERFACE IMPORTED)\n"
    "  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${PALO_HEADER_ONLY_DIR})\n"
    "endif()\n")
  file(WRITE ${config_dir}/${package}ConfigVersion.cmake
    "set(PACKAGE_VERSION 99)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
  set(${package}_DIR ${config_dir} CACHE PATH "" FORCE)
endforeach()
find_package(nlohmann_json 3.10 REQUIRED)

add_library(pugixml::pugixml INTERFACE IMPORTED)
target_link_libraries(pugixml::pugixml INTERFACE ole32 shlwapi)
add_library(PkgConfig::SERIALPORT INTERFACE IMPORTED)
target_link_libraries(PkgConfig::SERIALPORT INTERFACE setupapi advapi32 ws2_32)
add_library(CURL::libcurl INTERFACE IMPORTED)
target_link_libraries(CURL::libcurl INTERFACE winhttp)
add_library(palo_network INTERFACE)
target_link_libraries(palo_network INTERFACE CURL::libcurl)
add_library(OpenSSL::Crypto INTERFACE IMPORTED)
target_link_libraries(OpenSSL::Crypto INTERFACE bcrypt)
# Zip archives are read and written by the project's own code over zlib
# (libz-mingw-w64-dev), linked statically like everything else.
add_library(PkgConfig::LIBZIP INTERFACE IMPORTED)
# The static archive by its full name: find_library prefers the DLL's import library.
set(PALO_MINGW_ZLIB ${CMAKE_FIND_ROOT_PATH}/lib/libz.a)
if(NOT EXISTS ${PALO_MINGW_ZLIB} OR NOT EXISTS ${CMAKE_FIND_ROOT_PATH}/include/zlib.h)
  message(FATAL_ERROR "${PALO_MINGW_ZLIB} is missing: install libz-mingw-w64-dev (scripts/deps.sh)")
endif()
add_library(ZLIB::ZLIB STATIC IMPORTED)
set_target_properties(ZLIB::ZLIB PROPERTIES IMPORTED_LOCATION ${PALO_MINGW_ZLIB})

# Narrow strings are UTF-8 in this code base; the manifest asks Windows (10 1903
# and later) to use UTF-8 as the process code page, so file and port names in
# narrow API calls are read as UTF-8 too.
if(MINGW)
  add_compile_options("SHELL:-include ${CMAKE_SOURCE_DIR}/src/common/PosixOnWindows.h")
  # Headers of that name for the files that include them.
  include_directories(SYSTEM ${CMAKE_SOURCE_DIR}/src/common/posix-on-windows)
endif()
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
set(PALO_WINDOWS_MANIFEST_RC ${CMAKE_SOURCE_DIR}/packaging/windows/palo520g.rc)
