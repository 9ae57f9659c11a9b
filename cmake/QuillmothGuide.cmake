# The user's guide (target "user_guide"): the hand-written pages of guide/
# and the Core reference generated from the interface definition, assembled
# in bin/Guide beside the program, where the console's Help button and the
# installer package find it.
find_program(QM_PYTHON python3 REQUIRED)

set(QM_GUIDE_DIR ${CMAKE_BINARY_DIR}/bin/Guide)
set(QM_GUIDE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(QM_GUIDE_GENERATOR ${QM_SOURCE_ROOT}/tools/guide/make-reference.py)
set(QM_GUIDE_IDL ${QM_SOURCE_ROOT}/corelib/lib/QuillmothLib.idl)
file(GLOB QM_GUIDE_SOURCES CONFIGURE_DEPENDS ${QM_SOURCE_ROOT}/guide/*)
set(QM_GUIDE_OUTPUTS ${QM_GUIDE_DIR}/index.html ${QM_GUIDE_DIR}/reference.html)

add_custom_command(OUTPUT ${QM_GUIDE_OUTPUTS}
  COMMAND ${QM_PYTHON} ${QM_GUIDE_GENERATOR} --idl ${QM_GUIDE_IDL} --source ${QM_SOURCE_ROOT}/guide
    --out ${QM_GUIDE_DIR} --version ${QM_GUIDE_VERSION}
  DEPENDS ${QM_GUIDE_GENERATOR} ${QM_GUIDE_IDL} ${QM_GUIDE_SOURCES}
  COMMENT "Assembling the user's guide in ${QM_GUIDE_DIR}"
  VERBATIM)
add_custom_target(user_guide ALL DEPENDS ${QM_GUIDE_OUTPUTS})
