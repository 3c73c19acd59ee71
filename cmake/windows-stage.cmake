# Lays out the Windows program folder as users get it (run with cmake -P):
#   STAGE/  zqrstereo.exe  zqrjpeg.dll  the FFmpeg and SDL DLLs  zqrstereo.pdf  LICENSE.txt
#           PLUG-IN/ffmpeg.exe  PLUG-IN/ffmpeg_III.exe  PLUG-IN/encoder/ffmpeg.exe and its DLLs
# from the build folder BIN, stripped with STRIP, and writes STAGE/../uninstall-files.nsh,
# the installer's list of what to delete, so that the uninstaller removes exactly these files.
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/PLUG-IN/encoder)
file(GLOB dlls ${BIN}/*.dll)
foreach(file ${BIN}/zqrstereo.exe ${dlls} ${BIN}/zqrstereo.pdf)
  file(COPY ${file} DESTINATION ${STAGE})
endforeach()
file(COPY ${BIN}/PLUG-IN/ffmpeg.exe ${BIN}/PLUG-IN/ffmpeg_III.exe DESTINATION ${STAGE}/PLUG-IN)
file(GLOB encoder ${BIN}/PLUG-IN/encoder/*.exe ${BIN}/PLUG-IN/encoder/*.dll)
file(COPY ${encoder} DESTINATION ${STAGE}/PLUG-IN/encoder)
# Notepad of old shows a text with bare line feeds as one line.
file(READ ${SOURCE}/LICENSE licence)
string(REPLACE "\n" "\r\n" licence "${licence}")
file(WRITE ${STAGE}/LICENSE.txt "${licence}")

file(GLOB_RECURSE staged RELATIVE ${STAGE} ${STAGE}/*)
set(list "")
foreach(file ${staged})
  if(file MATCHES "\\.(exe|dll)$")
    execute_process(COMMAND ${STRIP} --strip-unneeded ${STAGE}/${file} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot strip ${file}")
    endif()
  endif()
  string(REPLACE "/" "\\" windows_name "${file}")
  string(APPEND list "  Delete \"$INSTDIR\\${windows_name}\"\n")
endforeach()
get_filename_component(parent ${STAGE} DIRECTORY)
file(WRITE ${parent}/uninstall-files.nsh "${list}")
