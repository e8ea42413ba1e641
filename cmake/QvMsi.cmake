# qv_add_msi(TARGET name VERSION x.y.z OUTPUT file.msi [ALL]): the Windows
# Installer package of this build's architecture from installer/msi, built by
# wixl and finished by msibuild (installer/msi/msi_finish.cmake).
find_program(QV_WIXL wixl)
find_program(QV_MSIBUILD msibuild)
find_program(QV_MSIINFO msiinfo)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(QV_MSI_ARCH x86)
else()
  set(QV_MSI_ARCH x64)
endif()

function(qv_add_msi)
  cmake_parse_arguments(M "ALL" "TARGET;VERSION;OUTPUT" "" ${ARGN})
  set(source ${PROJECT_SOURCE_DIR}/installer/msi/quorvelone.wxs)
  # wixl finds files only by paths relative to where it runs: the package's
  # contents are staged in one folder under the names the .wxs uses.
  set(stage ${CMAKE_CURRENT_BINARY_DIR}/${M_TARGET}-files)
  file(MAKE_DIRECTORY ${stage})
  add_custom_command(
    OUTPUT ${M_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:quorvelone> ${stage}/quorvelone.tsp
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:installer> ${stage}/installer.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/README.md ${stage}/README.txt
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:qv_msi_actions> ${stage}/qv_msi_actions.dll
    COMMAND ${QV_WIXL} -a ${QV_MSI_ARCH} -D Version=${M_VERSION} -D Arch=${QV_MSI_ARCH} -o ${M_OUTPUT}.tmp ${source}
    COMMAND ${CMAKE_COMMAND} -DMSI=${M_OUTPUT}.tmp -DMSIBUILD=${QV_MSIBUILD} -DARCH=${QV_MSI_ARCH}
            -DFILE_VERSION=${PROJECT_VERSION}.0 -P ${PROJECT_SOURCE_DIR}/installer/msi/msi_finish.cmake
    COMMAND ${CMAKE_COMMAND} -E rename ${M_OUTPUT}.tmp ${M_OUTPUT}
    DEPENDS ${source} ${PROJECT_SOURCE_DIR}/installer/msi/msi_finish.cmake ${PROJECT_SOURCE_DIR}/README.md
            quorvelone installer qv_msi_actions
    WORKING_DIRECTORY ${stage}
    COMMENT "Building ${M_OUTPUT}"
    VERBATIM)
  if(M_ALL)
    add_custom_target(${M_TARGET} ALL DEPENDS ${M_OUTPUT})
  else()
    add_custom_target(${M_TARGET} DEPENDS ${M_OUTPUT})
  endif()
endfunction()
