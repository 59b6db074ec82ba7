# The bundle's Info.json, generated from cache options so that a white-label build can set them
# (-DTW_CONDUCTOR_URL=...). The build tree holds a bundle laid out like an installed one
# (<build>/lib/tarnwick next to <build>/bin), so programs run from the build tree find it.
set(TW_BUNDLE_IDENTIFIER "com.tarnwick.desktop" CACHE STRING "Bundle identifier")
set(TW_BUNDLE_NAME "Tarnwick" CACHE STRING "Bundle name")
set(TW_BUNDLE_DISPLAY_NAME "Tarnwick" CACHE STRING "Name shown to the user")
set(TW_CONDUCTOR_URL "" CACHE STRING "Coordination server passed to the daemon; empty for its default")
set(TW_SIGNAL_URL "" CACHE STRING "Signalling server passed to the daemon; empty for its default")
set(TW_HOME_PAGE_URL "https://tarnwick.example/" CACHE STRING "Product home page")
set(TW_DOCS_PAGE_URL "https://tarnwick.example/docs/" CACHE STRING "Product documentation")
set(TW_UPDATE_FEED_URL "" CACHE STRING "Appcast feed of releases; empty disables update checks")

# Keys whose absence means "use the default" are left out when empty.
set(TW_INFO_OPTIONAL_KEYS "")
foreach(pair "TWConductorURL=TW_CONDUCTOR_URL" "TWSignalURL=TW_SIGNAL_URL")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 key)
  list(GET pair 1 var)
  if(NOT "${${var}}" STREQUAL "")
    string(APPEND TW_INFO_OPTIONAL_KEYS "\"${key}\": \"${${var}}\",\n  ")
  endif()
endforeach()

set(TW_BUNDLE_DIR ${CMAKE_BINARY_DIR}/lib/tarnwick)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.json.in ${TW_BUNDLE_DIR}/Info.json @ONLY)
file(MAKE_DIRECTORY ${TW_BUNDLE_DIR}/Resources ${TW_BUNDLE_DIR}/Library/SystemExtensions
     ${TW_BUNDLE_DIR}/Library/LaunchDaemons)
install(FILES ${TW_BUNDLE_DIR}/Info.json DESTINATION lib/tarnwick)

# Copies a built program into the bundle's Resources folder.
function(tw_bundle_resource target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${TW_BUNDLE_DIR}/Resources/
    VERBATIM)
endfunction()

# The node daemon and its CLI in the bundle: the stand-ins built here, or the product's programs
# when given (a package of the product names both).
set(TW_NODE_DAEMON "" CACHE FILEPATH "The node daemon tarnwickd to bundle; empty for the stand-in")
set(TW_NODE_CLI "" CACHE FILEPATH "The node daemon's CLI tarnwick to bundle; empty for the stand-in")
function(tw_bundle_node_program target program)
  if(program STREQUAL "")
    tw_bundle_resource(${target})
    install(TARGETS ${target} RUNTIME DESTINATION lib/tarnwick/Resources)
    return()
  endif()
  if(NOT EXISTS "${program}")
    message(FATAL_ERROR "No such program to bundle as ${target}: ${program}")
  endif()
  configure_file(${program} ${TW_BUNDLE_DIR}/Resources/${target} COPYONLY)
  install(PROGRAMS ${TW_BUNDLE_DIR}/Resources/${target} DESTINATION lib/tarnwick/Resources)
endfunction()
