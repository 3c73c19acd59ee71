# The Windows forms users get: zqrstereo-<version>-setup.exe (NSIS) and the portable
# zqrstereo-<version>-win64.zip, both made from one staged program folder.
find_program(ZQR_MAKENSIS makensis REQUIRED)
set(ZQR_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(ZQR_STAGE_NAME zqrstereo-${PROJECT_VERSION})
set(ZQR_STAGE ${ZQR_PACKAGE_DIR}/${ZQR_STAGE_NAME})
set(ZQR_SETUP ${CMAKE_BINARY_DIR}/zqrstereo-${PROJECT_VERSION}-setup.exe)
set(ZQR_ZIP ${CMAKE_BINARY_DIR}/zqrstereo-${PROJECT_VERSION}-win64.zip)
add_custom_target(windows_packages
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${ZQR_STAGE} -DBIN=${ZQR_BIN_DIR} -DSOURCE=${PROJECT_SOURCE_DIR}
          -DSTRIP=${CMAKE_STRIP} -P ${PROJECT_SOURCE_DIR}/cmake/windows-stage.cmake
  COMMAND ${ZQR_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${ZQR_STAGE}
          -DOUTFILE=${ZQR_SETUP} ${PROJECT_SOURCE_DIR}/packaging/windows/zqrstereo.nsi
  COMMAND ${CMAKE_COMMAND} -E rm -f ${ZQR_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${ZQR_PACKAGE_DIR} ${CMAKE_COMMAND} -E tar cf ${ZQR_ZIP}
          --format=zip ${ZQR_STAGE_NAME}
  DEPENDS zqrstereo ffmpeg_III ffmpeg_launcher zqrjpeg zqrstereo_help
  BYPRODUCTS ${ZQR_SETUP} ${ZQR_ZIP}
  VERBATIM)
