# The Linux package (scripts/package): build/package/x5runner_<version>_amd64.deb, made by CPack in
# the release build. It holds the release x5ctl in /usr/bin, the Windows binaries of the mingw
# build in /usr/lib/x5runner (where the installed x5ctl finds its runner), the documents and
# examples, a man page and bash completion made from x5ctl's own --help at build time.
set(X5_MINGW_DIR ${PROJECT_SOURCE_DIR}/build/mingw CACHE PATH
    "The Windows build whose x5runner.exe, dvup.dll and x5step.exe go into the package")
set(x5_maintainer "x5runner maintainers <maintainers@users.noreply.c-seed-1ccbd8d2.example>")

set(docs_dir ${CMAKE_BINARY_DIR}/x5ctl-docs)
file(MAKE_DIRECTORY ${docs_dir})
add_custom_command(
  OUTPUT ${docs_dir}/x5ctl.1.gz ${docs_dir}/x5ctl.bash
  COMMAND ${CMAKE_COMMAND} -DX5CTL=$<TARGET_FILE:x5ctl> -DX5_VERSION=${PROJECT_VERSION}
          -DX5_OUT=${docs_dir} -P ${PROJECT_SOURCE_DIR}/cmake/x5ctl_docs.cmake
  DEPENDS x5ctl ${PROJECT_SOURCE_DIR}/cmake/x5ctl_docs.cmake
  COMMENT "x5ctl man page and bash completion from x5ctl --help")
add_custom_target(x5ctl_docs ALL DEPENDS ${docs_dir}/x5ctl.1.gz ${docs_dir}/x5ctl.bash)

# The package's change log (a native package: one entry per version), dated by SOURCE_DATE_EPOCH
# when it is set so that a rebuild makes the same file.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${docs_dir}/changelog
     "x5runner (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}.\n\n -- ${x5_maintainer}  ${changelog_date}\n")
execute_process(COMMAND gzip -9nf ${docs_dir}/changelog)

install(TARGETS x5ctl RUNTIME DESTINATION bin)
install(FILES ${X5_MINGW_DIR}/x5runner.exe ${X5_MINGW_DIR}/dvup.dll ${X5_MINGW_DIR}/x5step.exe
        DESTINATION lib/x5runner)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
              ${docs_dir}/changelog.gz DESTINATION share/doc/x5runner)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION share/doc/x5runner/docs)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION share/doc/x5runner/examples
        USE_SOURCE_PERMISSIONS PATTERN .gitattributes EXCLUDE)
install(FILES ${docs_dir}/x5ctl.1.gz DESTINATION share/man/man1)
install(FILES ${docs_dir}/x5ctl.bash DESTINATION share/bash-completion/completions RENAME x5ctl)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME x5runner)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/build/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "${x5_maintainer}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch-job step runner for Windows programs under Wine")
# The first line is the summary above; an empty line separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "x5runner runs one step of a batch job for a parent scheduler: it checks
condition rules on files before and after the step, starts the command
inside a job object, answers operator commands (status, hold, resume,
kill, priority), pictures and ends whatever the step left behind, and
applies the return-code rules.

This package holds the runner (a Windows program run through Wine) and
x5ctl, which runs a step from a task file as an ordinary command for
schedulers on Linux (x5ctl exec), checks tasks without running them, and
prepares a Wine prefix for the runner (x5ctl setup-host).")
set(CPACK_DEBIAN_FILE_NAME x5runner_${PROJECT_VERSION}_amd64.deb)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The runner is a 64-bit Windows program: the 64-bit loader is what it needs. The suite runs it
# under Wine 8.0, the oldest release it is known to work with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "wine (>= 8.0~), wine64 (>= 8.0~)")
# Its console needs a display: a headless host runs one with Xvfb (x5ctl setup-host starts it).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xvfb")
include(CPack)
