cmake_minimum_required(VERSION 3.25)
# Sets in the package what wixl cannot write: the settings components'
# conditions (written only when the property is given) and permanent flag
# (removal leaves the settings), secure properties, the provider's file
# version, the rollback action's type, and the removal of an older version
# before anything is installed.
# -DMSI=package -DMSIBUILD=msibuild -DARCH=x64|x86 -DFILE_VERSION=a.b.c.d
set(settings PBXADDRESS PBXPORT PBXDOMAIN PBXENCRYPT USERNAME LOGLEVEL LOGFILE
             CALLEVENTS CERTPIN VERIFYCERT CAFILE TLSVERSION INVOKEID LOGROTATE LINES)
# msidbComponentAttributesRegistryKeyPath | Permanent, plus 64-bit on x64.
if(ARCH STREQUAL "x64")
  set(attributes 276)
else()
  set(attributes 20)
endif()
function(run_query query)
  # One query per run: a query holding ';' cannot travel in a CMake list.
  execute_process(COMMAND ${MSIBUILD} ${MSI} -q "${query}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "msibuild failed on ${MSI}: ${query}\n${out}${err}")
  endif()
endfunction()

foreach(p ${settings})
  run_query("UPDATE `Component` SET `Condition` = '${p}', `Attributes` = ${attributes} WHERE `Component` = 'Setting_${p}'")
endforeach()
set(secure "WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;${settings}")
run_query("UPDATE `Property` SET `Value` = '${secure}' WHERE `Property` = 'SecureCustomProperties'")
run_query("UPDATE `File` SET `Version` = '${FILE_VERSION}', `Language` = '1033' WHERE `File` = 'ProviderFile'")
# wixl drops Execute="rollback": dll in Binary (1) + ignore result (64) +
# rollback (256) + in script (1024) + no impersonation (2048).
run_query("UPDATE `CustomAction` SET `Type` = 3393 WHERE `Action` = 'RegisterProviderRollback'")
# Right after InstallValidate: the old version is gone (and off TAPI's list)
# before this one's files and registration.
run_query("UPDATE `InstallExecuteSequence` SET `Sequence` = 1401 WHERE `Action` = 'RemoveExistingProducts'")
