# The Debian package: cpack -G DEB in the build folder (tools/package.sh does the whole of it)
# makes pictavo_<version>_<arch>.deb from the install rules, installed under /usr. Its Depends
# come from dpkg-shlibdeps on the binaries, plus the Qt plugins the program loads at run time,
# which no library dependency names.
set(QMT_PACKAGE_MAINTAINER "Pictavo developers <pictavo@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")

# The installed programs resolve all their symbols at start, so that the whole table of them can
# be made read-only (full RELRO), as Debian builds its own packages.
foreach(_program qmt update)
  target_link_options(${_program} PRIVATE -Wl,-z,relro -Wl,-z,now)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pictavo)
set(CPACK_PACKAGE_VENDOR Karvendel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QMT_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-strip.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QMT_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/pictavo/pictavo)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-image-formats-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The first line is the synopsis; the rest the extended description, lines indented by one space.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "image browser and viewer
Pictavo shows the folder tree beside the thumbnails of the chosen folder and a
preview of the selected picture. Its viewer steps through the pictures of a
folder, zooms, rotates, plays slide shows and goes full screen; pictures can be
saved in ten formats, printed, renamed, copied, moved, deleted to the trash or
made the desktop wallpaper.
.
It reads JPEG, GIF, BMP, PNG, PSD, TIFF, PCX, TGA, WBMP, Photo CD, WMF, EMF,
icon and cursor files.")

include(CPack)
