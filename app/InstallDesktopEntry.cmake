# Run by `cmake --install`: writes the desktop entry for the prefix being installed into.
# The entry names the launcher by its full path, because a menu started before a fresh
# ~/.local/bin existed does not have that folder on its PATH.
#
# Set before this script runs: VORELTA_DESKTOP_TEMPLATE.

set(launcher "${CMAKE_INSTALL_PREFIX}/bin/vorelta")
if(launcher MATCHES "^[A-Za-z0-9/._+-]+$")
    set(VORELTA_EXEC "${launcher}")
else()
    # A path with blanks or other special characters is quoted as the desktop entry format
    # asks: a backslash before each of \ " ` $ inside the quotes, and then every backslash
    # doubled again because the value itself is an escaped string; % is written %%.
    set(quoted "${launcher}")
    string(REPLACE "\\" "\\\\" quoted "${quoted}")
    string(REPLACE "\"" "\\\"" quoted "${quoted}")
    string(REPLACE "`" "\\`" quoted "${quoted}")
    string(REPLACE "$" "\\$" quoted "${quoted}")
    string(REPLACE "\\" "\\\\" quoted "${quoted}")
    string(REPLACE "%" "%%" quoted "${quoted}")
    set(VORELTA_EXEC "\"${quoted}\"")
endif()

# Written straight into place (the build folder may not be writable by whoever installs) and
# listed in install_manifest.txt like any installed file (there without DESTDIR, as the others).
set(entry "${CMAKE_INSTALL_PREFIX}/share/applications/vorelta.desktop")
message(STATUS "Installing: $ENV{DESTDIR}${entry}")
configure_file("${VORELTA_DESKTOP_TEMPLATE}" "$ENV{DESTDIR}${entry}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")
