# The program installed as a desktop program (cmake --install, make install PREFIX=...)
# and the Debian package made from the same rules (cpack -G DEB, make deb). The layout
# under the prefix is the one core/places.cpp looks for around bin/:
#   bin/zqrstereo
#   lib/zqrstereo/ffmpeg, lib/zqrstereo/ffmpeg_III          the PLUG-IN tools
#   <libdir>/libzqrjpeg.so*, <libdir>/pkgconfig/zqrjpeg.pc, include/zqrstereo/jpeg/jpegmain.h
#   (and platform/export.h beside it)
#   share/man/man1/zqrstereo.1.gz
#   share/doc/zqrstereo/zqrstereo.pdf (Help's manual), copyright, changelog.gz
#   share/applications, share/metainfo, share/icons/hicolor, share/mime/packages
include(GNUInstallDirs)

set(ZQR_APP_ID io.github.kavelund_zqr.zqrstereo)
set(ZQR_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(ZQR_STAGED ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS zqrstereo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET ffmpeg_III)
  install(TARGETS ffmpeg_launcher ffmpeg_III RUNTIME DESTINATION lib/zqrstereo)
endif()

# The JPEG writer for other programs: a shared library is not executable.
install(TARGETS zqrjpeg LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${PROJECT_SOURCE_DIR}/jpeg/jpegmain.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zqrstereo/jpeg)
install(FILES ${PROJECT_SOURCE_DIR}/platform/export.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zqrstereo/platform)
# The pkg-config file finds the prefix from its own place, so a moved prefix still works.
file(RELATIVE_PATH ZQR_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${ZQR_PACKAGING}/zqrjpeg.pc.in ${ZQR_STAGED}/zqrjpeg.pc @ONLY)
install(FILES ${ZQR_STAGED}/zqrjpeg.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Compressed as Debian keeps them; man reads them so from any prefix.
find_program(ZQR_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${ZQR_STAGED}/zqrstereo.1.gz
  COMMAND ${ZQR_GZIP} -9nc ${PROJECT_SOURCE_DIR}/docs/zqrstereo.1 > ${ZQR_STAGED}/zqrstereo.1.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/zqrstereo.1
  VERBATIM)
add_custom_command(OUTPUT ${ZQR_STAGED}/changelog.gz
  COMMAND ${ZQR_GZIP} -9nc ${ZQR_PACKAGING}/changelog > ${ZQR_STAGED}/changelog.gz
  DEPENDS ${ZQR_PACKAGING}/changelog
  VERBATIM)
# The desktop's icon at fixed sizes, drawn like the program's other pictures.
set(ZQR_ICON_SIZES 48 128 256)
set(ZQR_ICONS "")
foreach(size ${ZQR_ICON_SIZES})
  list(APPEND ZQR_ICONS ${ZQR_STAGED}/icons/${size}.png)
endforeach()
add_custom_command(OUTPUT ${ZQR_ICONS}
  COMMAND ${PROJECT_SOURCE_DIR}/resources/draw.sh --icons ${ZQR_STAGED}/icons
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/draw.sh
  VERBATIM)
add_custom_target(zqr_desktop_files ALL
  DEPENDS ${ZQR_STAGED}/zqrstereo.1.gz ${ZQR_STAGED}/changelog.gz ${ZQR_ICONS})

install(FILES ${ZQR_STAGED}/zqrstereo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ZQR_PACKAGING}/copyright ${ZQR_STAGED}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TARGET zqrstereo_help)
  install(FILES ${ZQR_BIN_DIR}/zqrstereo.pdf DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${ZQR_PACKAGING}/${ZQR_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${ZQR_PACKAGING}/${ZQR_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${ZQR_PACKAGING}/zqrstereo-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages RENAME zqrstereo.xml)
foreach(size ${ZQR_ICON_SIZES})
  install(FILES ${ZQR_STAGED}/icons/${size}.png
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${ZQR_APP_ID}.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/zqrstereo.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
        RENAME ${ZQR_APP_ID}.svg)

# Everything the install rules take from the build, for the tests that install.
add_custom_target(zqr_installables)
add_dependencies(zqr_installables zqrstereo zqrjpeg zqr_desktop_files)
foreach(target ffmpeg_III ffmpeg_launcher zqrstereo_help)
  if(TARGET ${target})
    add_dependencies(zqr_installables ${target})
  endif()
endforeach()

# The Debian package: zqrstereo_<version>_<arch>.deb, its dependencies those of the
# libraries the programs link (dpkg-shlibdeps) and ffmpeg, which the tools run.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zqrstereo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kavelund ZQR project")
set(CPACK_PACKAGE_CONTACT "Kavelund ZQR project <zqr@kavelund-zqr.example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://kavelund-zqr.example.org)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS ffmpeg)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# libzqrjpeg in /usr/lib: the loader's cache is renewed through dpkg's ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ZQR_PACKAGING}/triggers)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "turn ordinary videos into red/cyan anaglyph 3D movies
The Kavelund ZQR Stereo Video Coverter loads a video, plays it in a preview
while brightness, contrast, noise smoothing and sharpen are tuned, and
converts it into an anaglyph 3D movie for red/cyan glasses (dynamic or static
stereo, with an optional colour-driven depth), or into side-by-side and
top-and-bottom movies for 3D TVs and VR headsets. It writes FLV, AVI, MOV,
MP4, M4V, OGG, OGV, WEBM and MKV movies through ffmpeg, and converts without a
window from the command line as well. The package also holds libzqrjpeg, the
program's baseline JPEG writer, for other programs.")
include(CPack)
