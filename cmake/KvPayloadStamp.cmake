# cmake -DDIR=<archives folder> -P KvPayloadStamp.cmake
# Writes DIR/payload.stamp, a digest of payload.rc and the .kvarc files,
# only when it changes, so that what embeds payload.rc is rebuilt exactly
# when the archives changed.
file(GLOB archives ${DIR}/*.kvarc)
list(SORT archives)
set(digest "")
foreach(f ${DIR}/payload.rc ${archives})
  file(SHA256 ${f} h)
  string(APPEND digest "${h}\n")
endforeach()
set(old "")
if(EXISTS ${DIR}/payload.stamp)
  file(READ ${DIR}/payload.stamp old)
endif()
if(NOT old STREQUAL digest)
  file(WRITE ${DIR}/payload.stamp "${digest}")
endif()
