cmake_minimum_required(VERSION 3.25)
# Reads the package's tables with msiinfo and checks what the package must do
# for its architecture: where each file goes, the settings components, the
# custom actions and their order, the upgrade identity, and that the files
# inside are stripped binaries of that architecture with a debug link.
# -DMSI=pkg -DMSIINFO=msiinfo -DOBJDUMP=objdump -DARCH=x64|x86 -DVERSION=a.b.c -DWORK=dir
if(ARCH STREQUAL "x64")
  set(system_dir System64Folder)
  set(program_files ProgramFiles64Folder)
  set(bits 256)  # msidbComponentAttributes64bit
  set(template "x64;1033")
  set(pe_arch "i386:x86-64")
  set(upgrade_code "{6B0E3C52-4A19-4D3E-9C8B-2F1A7E5D0C41}")
else()
  set(system_dir SystemFolder)
  set(program_files ProgramFilesFolder)
  set(bits 0)
  set(template "Intel;1033")
  set(pe_arch "i386,")
  set(upgrade_code "{0F4D8A27-9B61-4C5E-8E33-7A2C5B9D1E86}")
endif()

set(failures "")
macro(fail text)
  list(APPEND failures "${text}")
endmacro()

# The rows of a table as one text, one row a line, columns tab-separated.
function(read_table name out)
  execute_process(COMMAND ${MSIINFO} export ${MSI} ${name} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "msiinfo export ${name} failed")
  endif()
  string(REPLACE "\r" "" text "${text}")
  set(${out} "\n${text}" PARENT_SCOPE)
endfunction()

# A function, not a macro: the row's backslashes must stay as they are.
function(expect_row table_text row)
  string(FIND "${${table_text}}" "\n${row}\n" at)
  if(at EQUAL -1)
    set(failures ${failures} "${table_text}: no row \"${row}\"" PARENT_SCOPE)
  endif()
endfunction()

read_table(File files)
read_table(Component components)
read_table(Directory directories)
read_table(Registry registry)
read_table(CustomAction actions)
read_table(InstallExecuteSequence sequence)
read_table(Property properties)
read_table(Upgrade upgrades)

string(REGEX MATCH "\nProviderFile\tProvider\tquorvelone.tsp\t[0-9]+\t${VERSION}.0\t1033\t" row "${files}")
if(NOT row)
  fail("File: quorvelone.tsp without its version ${VERSION}.0")
endif()
string(REGEX MATCH "\nInstallerFile\tInstaller\tinstaller.exe\t" row "${files}")
string(REGEX MATCH "\nReadmeFile\tReadme\tREADME.txt\t" row2 "${files}")
if(NOT row OR NOT row2)
  fail("File: installer.exe or README.txt missing")
endif()

# The provider into the system folder of the architecture, the rest under
# Program Files\quorvelone.
string(REGEX MATCH "\nProvider\t{[-0-9A-F]+}\t${system_dir}\t${bits}\t\tProviderFile\n" row "${components}")
if(NOT row)
  fail("Component: the provider is not a ${ARCH} component in ${system_dir}")
endif()
foreach(c Installer Readme)
  string(REGEX MATCH "\n${c}\t{[-0-9A-F]+}\tINSTALLDIR\t${bits}\t\t${c}File\n" row "${components}")
  if(NOT row)
    fail("Component: ${c} is not a ${ARCH} component in INSTALLDIR")
  endif()
endforeach()
expect_row(directories "INSTALLDIR\t${program_files}\tquorvelone")

# One permanent component per setting, installed only when its property is
# given, keyed by its REG_SZ value.
math(EXPR setting_bits "${bits} + 16 + 4")  # + permanent + registry key path
set(pairs PBXADDRESS=address PBXPORT=port PBXDOMAIN=domain PBXENCRYPT=encrypt USERNAME=username
          LOGLEVEL=loglevel LOGFILE=logfile CALLEVENTS=callevents CERTPIN=certpin VERIFYCERT=verifycert
          CAFILE=cafile TLSVERSION=tlsversion INVOKEID=invokeid LOGROTATE=logrotate
          LINES=lines)
foreach(pair ${pairs})
  string(REPLACE "=" ";" pv "${pair}")
  list(GET pv 0 property)
  list(GET pv 1 value)
  string(REGEX MATCH "\nSetting_${property}\t{[-0-9A-F]+}\tSettingsDir\t${setting_bits}\t${property}\t(reg[0-9A-F]+)\n"
         row "${components}")
  if(NOT row)
    fail("Component: Setting_${property} is not permanent, conditioned on ${property}, ${ARCH}")
    continue()
  endif()
  expect_row(registry "${CMAKE_MATCH_1}\t2\tSOFTWARE\\quorvelone\\tapi\t${value}\t[${property}]\tSetting_${property}")
  string(REGEX MATCH "\nSecureCustomProperties\t[^\n]*[\t;]${property}[;\n]" secure "${properties}")
  if(NOT secure)
    fail("Property: ${property} is not a secure property")
  endif()
endforeach()
string(REGEX MATCHALL "\nreg[0-9A-F]+\t" registry_rows "${registry}")
list(LENGTH registry_rows n)
if(NOT n EQUAL 15)
  fail("Registry: ${n} values, not 15")
endif()

# Deferred, system context; registration failure is checked, removal's and
# the rollback's are not.
expect_row(actions "RegisterProvider\t3073\tRegistrationActions\tRegisterProvider\t")
expect_row(actions "UnregisterProvider\t3137\tRegistrationActions\tUnregisterProvider\t")
expect_row(actions "RegisterProviderRollback\t3393\tRegistrationActions\tUnregisterProvider\t")
# Each deferred action's data (the installed installer.exe) comes from a
# property set just before it (type 51, whatever flags wixl adds).
foreach(a RegisterProvider UnregisterProvider RegisterProviderRollback)
  string(REGEX MATCH "\nSet${a}\t([0-9]+)\t${a}\t\\[INSTALLDIR\\]installer.exe\t" row "${actions}")
  if(row)
    math(EXPR base "${CMAKE_MATCH_1} % 64")
  endif()
  if(NOT row OR NOT base EQUAL 51)
    fail("CustomAction: Set${a} does not set ${a}'s data to the installed installer.exe")
  endif()
endforeach()

# The order: an older version goes first; removal leaves TAPI's list before
# the files go; registration follows files and settings.
set(order InstallValidate RemoveExistingProducts InstallInitialize SetUnregisterProvider UnregisterProvider
          RemoveFiles InstallFiles WriteRegistryValues SetRegisterProviderRollback RegisterProviderRollback
          SetRegisterProvider RegisterProvider InstallFinalize)
set(previous -1)
foreach(action ${order})
  string(REGEX MATCH "\n${action}\t([^\t\n]*)\t([0-9]+)\n" row "${sequence}")
  if(NOT row)
    fail("InstallExecuteSequence: ${action} missing")
    continue()
  endif()
  set(condition "${CMAKE_MATCH_1}")
  set(number ${CMAKE_MATCH_2})
  if(NOT number GREATER previous)
    fail("InstallExecuteSequence: ${action} out of order")
  endif()
  set(previous ${number})
  if(action MATCHES "Unregister" AND NOT condition STREQUAL "REMOVE~=\"ALL\"")
    fail("InstallExecuteSequence: ${action} not only on removal")
  endif()
  if(action MATCHES "RegisterProvider" AND NOT action MATCHES "Unregister"
     AND NOT condition STREQUAL "NOT REMOVE~=\"ALL\"")
    fail("InstallExecuteSequence: ${action} not only on install")
  endif()
endforeach()

expect_row(properties "ProductVersion\t${VERSION}")
expect_row(properties "UpgradeCode\t${upgrade_code}")
expect_row(properties "ALLUSERS\t1")
expect_row(upgrades "${upgrade_code}\t\t${VERSION}\t\t1\t\tWIX_UPGRADE_DETECTED")
expect_row(upgrades "${upgrade_code}\t${VERSION}\t\t\t2\t\tWIX_DOWNGRADE_DETECTED")

execute_process(COMMAND ${MSIINFO} suminfo ${MSI} OUTPUT_VARIABLE summary)
string(FIND "${summary}" "Template: ${template}\n" at)
if(at EQUAL -1)
  fail("summary: not Template ${template}")
endif()

# The files inside: this architecture, stripped, linked to their debug file.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/files)
execute_process(COMMAND msiextract -C ${WORK}/files ${MSI} OUTPUT_QUIET RESULT_VARIABLE rc)
execute_process(COMMAND ${MSIINFO} extract ${MSI} Binary.RegistrationActions OUTPUT_FILE ${WORK}/actions.dll)
file(GLOB_RECURSE extracted ${WORK}/files/*.tsp ${WORK}/files/*.exe)
list(LENGTH extracted n)
if(NOT n EQUAL 2)
  fail("cabinet: ${n} binaries found, not quorvelone.tsp and installer.exe")
endif()
foreach(binary ${extracted} ${WORK}/actions.dll)
  get_filename_component(name ${binary} NAME)
  execute_process(COMMAND ${OBJDUMP} -f -h ${binary} OUTPUT_VARIABLE dump_out RESULT_VARIABLE rc)
  string(FIND "${dump_out}" "architecture: ${pe_arch}" at)
  if(NOT rc EQUAL 0 OR at EQUAL -1)
    fail("${name}: not a ${ARCH} binary")
  endif()
  if(dump_out MATCHES "\\.debug_")
    fail("${name}: debug sections left in")
  endif()
  if(NOT dump_out MATCHES "\\.gnu_debuglink")
    fail("${name}: no debug link")
  endif()
endforeach()

if(failures)
  string(REPLACE ";" "\n" text "${failures}")
  message(FATAL_ERROR "${MSI}:\n${text}")
endif()
message(STATUS "${MSI}: tables and contents as expected for ${ARCH}")
