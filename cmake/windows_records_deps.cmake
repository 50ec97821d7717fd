# The target's SQLite and libpq for the station records on Windows: static
# libraries cross-built from Debian's sources by scripts/windows_deps.sh, in
# the folders of KELVANE_WIN_DEPS (each with include/ and lib/). Makes the
# imported targets Kelvane::SQLite3 and Kelvane::PQ and sets
# KELVANE_WIN_RECORDS when both are there.
set(KELVANE_WIN_DEPS "" CACHE STRING
    "Folders of the target's SQLite and libpq (scripts/windows_deps.sh prints them)")
set(KELVANE_WIN_RECORDS OFF)

# kelvane_win_find(VARIABLE NAME): NAME's header or library in those folders
# alone, looked up anew at every configure (a new version is a new folder).
function(kelvane_win_find variable name)
    unset(found)
    if(name MATCHES "\\.h$")
        find_path(found ${name} PATHS ${KELVANE_WIN_DEPS} PATH_SUFFIXES include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH NO_CACHE)
    else()
        find_library(found ${name} PATHS ${KELVANE_WIN_DEPS} PATH_SUFFIXES lib
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH NO_CACHE)
    endif()
    set(${variable} ${found} PARENT_SCOPE)
endfunction()

set(kelvane_win_missing "")
foreach(part sqlite3.h libsqlite3.a libpq-fe.h libpq.a libpgcommon_shlib.a libpgport_shlib.a)
    string(MAKE_C_IDENTIFIER ${part} key)
    kelvane_win_find(kelvane_win_${key} ${part})
    if(NOT kelvane_win_${key})
        list(APPEND kelvane_win_missing ${part})
    endif()
endforeach()
if(kelvane_win_missing)
    return()
endif()

add_library(Kelvane::SQLite3 STATIC IMPORTED)
set_target_properties(Kelvane::SQLite3 PROPERTIES
    IMPORTED_LOCATION ${kelvane_win_libsqlite3_a}
    INTERFACE_INCLUDE_DIRECTORIES ${kelvane_win_sqlite3_h})

# libpq rests on PostgreSQL's port and common libraries, Winsock, and SSPI
# (secur32) for Windows' own sign-on; shell32 gives it the user's folder.
add_library(Kelvane::PQ STATIC IMPORTED)
set_target_properties(Kelvane::PQ PROPERTIES
    IMPORTED_LOCATION ${kelvane_win_libpq_a}
    INTERFACE_INCLUDE_DIRECTORIES ${kelvane_win_libpq_fe_h}
    INTERFACE_LINK_LIBRARIES
        "${kelvane_win_libpgcommon_shlib_a};${kelvane_win_libpgport_shlib_a};ws2_32;secur32;shell32")
set(KELVANE_WIN_RECORDS ON)
