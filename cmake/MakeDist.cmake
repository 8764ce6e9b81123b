# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DVERSION=... -P MakeDist.cmake
#
# Installs the build into build/dist/stage/qmis-<version>-win32 and zips that
# folder into build/dist/qmis-<version>-win32.zip, with SHA256SUMS beside it.
# The archive is the same to the bit for the same commit: its entries are
# sorted, their times are the commit's time (or SOURCE_DATE_EPOCH), and the
# zip carries no owner, permission or extra time fields. A tree with
# uncommitted changes gets "-dirty" in its name, so that it is never taken
# for the commit it is not.
cmake_minimum_required(VERSION 3.25)

function(git out)
  execute_process(COMMAND git ${ARGN} WORKING_DIRECTORY ${SOURCE_DIR}
                  OUTPUT_VARIABLE text OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    set(text "")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(name qmis-${VERSION}-win32)
git(changes status --porcelain)
if(NOT changes STREQUAL "")
  set(name ${name}-dirty)
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  git(epoch log -1 --format=%ct)
endif()
if(epoch STREQUAL "")
  message(FATAL_ERROR "make dist: no commit time (not a git checkout?) and no SOURCE_DATE_EPOCH")
endif()

set(dist ${BUILD_DIR}/dist)
set(stage ${dist}/stage)
file(REMOVE_RECURSE ${stage})
file(GLOB old ${dist}/qmis-*.zip)
file(REMOVE ${old} ${dist}/SHA256SUMS)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage}/${name}
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/*)
list(SORT files)
execute_process(COMMAND touch --no-dereference --date=@${epoch} ${files}
                WORKING_DIRECTORY ${stage} COMMAND_ERROR_IS_FATAL ANY)
set(zip ${dist}/${name}.zip)
# -X: no extra fields (owner, extended times); -D: no folder entries; the
# names come in the sorted order given. Zip keeps local time: UTC here.
set(ENV{TZ} UTC)
execute_process(COMMAND zip -X -D -q ${zip} ${files}
                WORKING_DIRECTORY ${stage} COMMAND_ERROR_IS_FATAL ANY)

file(SHA256 ${zip} sum)
file(WRITE ${dist}/SHA256SUMS "${sum}  ${name}.zip\n")
file(SIZE ${stage}/${name}/bin/QMIS.dll dll_size)
message(STATUS "${zip}: QMIS.dll ${dll_size} bytes; sha256 ${sum}")
