# The Windows Installer package of this build (target "installer_package", part of "all"
# when wixl is installed): build/<arch>/Quillmoth-<version>-<arch>.msi.
# Windows Installer compares only three version fields, so the package has
# the project's major.minor.patch.
find_program(QM_WIXL wixl)
if(NOT QM_WIXL)
  message(STATUS "wixl not found: no installer package (tools/setup.sh installs it)")
  return()
endif()

# The package's custom action (a check that warns when VBScript is missing).
add_library(QuillmothSetup SHARED ${QM_SOURCE_ROOT}/tools/msi/setupcheck/SetupCheck.cpp
  ${QM_SOURCE_ROOT}/tools/msi/setupcheck/QuillmothSetup.def)
set_target_properties(QuillmothSetup PROPERTIES PREFIX "" IMPORT_PREFIX "lib")
target_link_libraries(QuillmothSetup PRIVATE msi advapi32 user32)
if(QM_ARCH STREQUAL "i686")
  target_link_options(QuillmothSetup PRIVATE -Wl,--enable-stdcall-fixup)
endif()

if(QM_ARCH STREQUAL "x86_64")
  set(QM_MSI_ARCH x64)
else()
  set(QM_MSI_ARCH x86)
endif()
set(QM_MSI_SOURCE ${QM_SOURCE_ROOT}/tools/msi/Quillmoth.wxs)
file(GLOB QM_MSI_SCRIPTS ${QM_SOURCE_ROOT}/scripts/*.vbs ${QM_SOURCE_ROOT}/scripts/*.js
  ${QM_SOURCE_ROOT}/scripts/samples/*.vbs)
set(QM_MSI_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(QM_MSI_FILE ${CMAKE_BINARY_DIR}/Quillmoth-${QM_MSI_VERSION}-${QM_ARCH}.msi)

# qm_wixl(output version): one package of this build's binaries.
function(qm_wixl output version)
  # wixl takes the files' paths relative to where it runs: the build's
  # folder, whose bin/Scripts holds the shipped scripts and bin/Guide the
  # user's guide.
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E remove -f ${output}
    COMMAND ${QM_WIXL} -a ${QM_MSI_ARCH} -D Version=${version} -D Arch=${QM_MSI_ARCH}
      -D BinDir=bin -D ScriptDir=bin/Scripts -D GuideDir=bin/Guide -o ${output} ${QM_MSI_SOURCE}
    COMMAND bash ${QM_SOURCE_ROOT}/tools/msi/finish-package.sh ${output} ${QM_MSI_ARCH}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS ${QM_SOURCE_ROOT}/tools/msi/finish-package.sh ${QM_MSI_SOURCE} Quillmoth QuillmothRun QuillmothLib
      QuillmothSetup ${QM_MSI_SCRIPTS} user_guide ${QM_GUIDE_OUTPUTS}
    COMMENT "Packaging ${output}"
    VERBATIM)
endfunction()

qm_wixl(${QM_MSI_FILE} ${QM_MSI_VERSION})
set(msi_outputs ${QM_MSI_FILE})
if(QM_BUILD_TESTS)
  # A package of the same binaries with a lower version: the upgrade test
  # installs it first.
  if(NOT QM_MSI_VERSION VERSION_GREATER 0.9.0)
    message(FATAL_ERROR "the upgrade test's older package must be older than ${QM_MSI_VERSION}")
  endif()
  set(QM_MSI_OLDER_FILE ${CMAKE_BINARY_DIR}/msi-test/Quillmoth-0.9.0-${QM_ARCH}.msi)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/msi-test)
  qm_wixl(${QM_MSI_OLDER_FILE} 0.9.0)
  list(APPEND msi_outputs ${QM_MSI_OLDER_FILE})
endif()
add_custom_target(installer_package ALL DEPENDS ${msi_outputs})
