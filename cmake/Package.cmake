# The release archive of this build (`cmake --install`, then CPack; see
# scripts/package.sh): the two programs, the README and the sample
# distribution. On Windows everything lies at the archive's top, elsewhere
# the programs are in bin/. CPack strips the programs it packs.
if(WIN32)
  set(UPD_PROGRAM_DIR .)
  set(UPD_ARCHIVE_SYSTEM windows)
  set(CPACK_GENERATOR ZIP)
else()
  set(UPD_PROGRAM_DIR bin)
  set(UPD_ARCHIVE_SYSTEM linux)
  set(CPACK_GENERATOR TGZ)
endif()
install(TARGETS updater updkit RUNTIME DESTINATION ${UPD_PROGRAM_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)

# The sample update as a distribution: its script, the shipped files, the
# update package and record store that updkit builds from sample/. It is
# made by a program of the build machine (a cross build cannot run its
# own), so scripts/package.sh makes it once and names it here.
set(UPD_SAMPLE_DISTRIBUTION "" CACHE PATH
  "A folder holding the sample distribution for the release archive (scripts/package.sh)")
if(UPD_SAMPLE_DISTRIBUTION)
  install(DIRECTORY ${UPD_SAMPLE_DISTRIBUTION}/ DESTINATION sample)
endif()

set(CPACK_PACKAGE_NAME updater)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Marovex game updater and update authoring kit")
set(CPACK_PACKAGE_FILE_NAME updater-${PROJECT_VERSION}-${UPD_ARCHIVE_SYSTEM})
set(CPACK_STRIP_FILES ON)
include(CPack)
