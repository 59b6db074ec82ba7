# Every network map on the event stream is decoded into tens of thousands of small strings and
# lists, and released again when the next one arrives. glibc's allocator spends more on that than
# the JSON parse itself (most of it consolidating freed chunks); mimalloc does the same work at a
# fraction of the cost. The programs that decode the stream link it, which replaces malloc and
# operator new for the whole process. Sanitizer and fuzzing builds bring their own allocator and
# turn this off.
option(TW_MIMALLOC "Link the programs that decode the event stream with mimalloc" ON)
if(TW_MIMALLOC)
  find_package(mimalloc 2.0 REQUIRED CONFIG)
endif()

function(tw_use_mimalloc target)
  if(TW_MIMALLOC)
    target_link_libraries(${target} PRIVATE mimalloc)
  endif()
endfunction()
